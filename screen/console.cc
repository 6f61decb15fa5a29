#include "screen/console.h"

namespace brenvo {

const char* DirectionOptionCaption(int index) {
  static const char* const captions[] = {"Brenvo → CS", "CS → Brenvo", "Brenvo → Brenvo"};
  return (index >= 0 && index < 3) ? captions[index] : "";
}

}  // namespace brenvo
