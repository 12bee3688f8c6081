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
// A failure of the system's file calls also keeps the system's code
// (OsError), so that whoever names it can say why without parsing the
// message; the message itself never changes because of it.
#pragma once

#include <exception>
#include <string>

namespace tarveld {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  Exception(std::string message, int os_error)
      : message_(std::move(message)), os_error_(os_error) {}

  const std::string& Message() const noexcept { return message_; }
  // The system's code (errno, GetLastError) of the file call that failed;
  // 0 when the failure was none, or the system gave none.
  int OsError() const noexcept { return os_error_; }
  const char* what() const noexcept override { return message_.c_str(); }
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string message_;
  int os_error_ = 0;
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
