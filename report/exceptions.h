// Failures are exceptions carrying a message text, in one small class tree:
//
//   Exception
//   ├── EStreamError
//   │   ├── EFOpenError     the report exists but cannot be opened
//   │   ├── EFCreateError   the report cannot be created or replaced
//   │   └── EFilerError
//   │       └── EWriteError the report cannot be written completely
//   └── EConvertError       a pattern and its values do not match
//
// Only the entry points catch them; ClassName() lets them say which it was.
#pragma once

#include <exception>
#include <string>

namespace tarveld {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}

  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string message_;
};

#define TARVELD_EXCEPTION_CLASS(Name, Base)                           \
  class Name : public Base {                                          \
   public:                                                            \
    using Base::Base;                                                 \
    const char* ClassName() const noexcept override { return #Name; } \
  }

TARVELD_EXCEPTION_CLASS(EStreamError, Exception);
TARVELD_EXCEPTION_CLASS(EFOpenError, EStreamError);
TARVELD_EXCEPTION_CLASS(EFCreateError, EStreamError);
TARVELD_EXCEPTION_CLASS(EFilerError, EStreamError);
TARVELD_EXCEPTION_CLASS(EWriteError, EFilerError);
TARVELD_EXCEPTION_CLASS(EConvertError, Exception);

#undef TARVELD_EXCEPTION_CLASS

// "EFCreateError: Unable to create file ...": how a failure is named on the
// debug output, after the entry point whose work it was.
inline std::string ClassAndMessage(const Exception& failure) {
  return std::string(failure.ClassName()) + ": " + failure.Message();
}

}  // namespace tarveld
