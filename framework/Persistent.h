#pragma once
// Objects that copy their settings from another object of their own class.

#include <stdexcept>
#include <string>

namespace vardelio {

// "Cannot assign a <source> to a <destination>".
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TPersistent {
 public:
  virtual ~TPersistent() = default;
  virtual const char* ClassName() const = 0;
  // Copies every setting of `source`; fails with EConvertError for another class.
  virtual void Assign(const TPersistent& source);

 protected:
  TPersistent() = default;
  TPersistent(const TPersistent&) = default;
  TPersistent& operator=(const TPersistent&) = default;
};

}  // namespace vardelio
