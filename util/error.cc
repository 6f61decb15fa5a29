#include "util/error.h"

#include <new>

namespace brenvo {

ErrorInfo DescribeCurrentException() {
  try {
    throw;
  } catch (const BrenvoError& e) {
    return {e.number(), e.description(), e.source()};
  } catch (const std::bad_alloc&) {
    return {7, "Out of memory", {}};
  } catch (const std::exception& e) {
    return {5, e.what(), {}};
  } catch (...) {
    return {5, "Unknown error", {}};
  }
}

std::string TrapText(const ErrorInfo& e, const std::string& procedure, const std::string& owner) {
  return "Error " + std::to_string(e.number) + " (" + e.description + ") in procedure " + procedure +
         " of " + owner;
}

}  // namespace brenvo
