#pragma once
// The failure of a lookup or of an object-tree translation; the message is shown as it stands.

#include <stdexcept>

class ETranslationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
