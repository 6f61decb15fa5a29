// Errors inside the engine travel as BrenvoError: a number, a description and
// the source that raised it, the three things a procedure's trap reports as
// "Error N (description) in procedure P of OWNER".
#pragma once

#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

namespace brenvo {

class BrenvoError : public std::runtime_error {
 public:
  BrenvoError(long number, std::string description, std::string source = {})
      : std::runtime_error(description),
        number_(number),
        description_(std::move(description)),
        source_(std::move(source)) {}

  long number() const { return number_; }
  const std::string& description() const { return description_; }
  const std::string& source() const { return source_; }

 private:
  long number_;
  std::string description_;
  std::string source_;
};

// Number and description of whatever was thrown; foreign exceptions get the
// run-time numbers a technician would recognise (7 out of memory, 5 otherwise).
struct ErrorInfo {
  long number = 0;
  std::string description;
  std::string source;
};
ErrorInfo DescribeCurrentException();

// "Error " + number + " (" + description + ") in procedure " + proc + " of " + owner
std::string TrapText(const ErrorInfo& e, const std::string& procedure, const std::string& owner);

}  // namespace brenvo
