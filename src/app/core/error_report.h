#pragma once
// The one answer to an unexpected fault: the eight-line "Error Debug Report", then the
// process ends at once with status 3. Nothing is saved and no shutdown step runs.
//
// The idiom, in every procedure that has an error trap:
//
//   void MovieGen::MakeMovie() {
//     ErrorTrap trap("MovieGen", "MakeMovie");
//     ...
//     trap.Line(__LINE__);          // optional checkpoint for faults of other libraries
//     if (bad) throw Fault(1001, "cannot do x");   // carries its own source line
//   }
//
// The first trap that an escaping exception passes records module, procedure and line;
// the top of the program (main, the Qt event dispatch) catches and reports it.
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

namespace chronoreel {

// Where a fault was raised: the two builtins behind std::source_location, so that the code
// also builds with clang 14 and libstdc++ 12 (the fuzzing build), which lack the header.
struct SourceLocation {
  static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                          unsigned line = __builtin_LINE(),
                                          const char* function = __builtin_FUNCTION()) noexcept {
    return SourceLocation{file, line, function};
  }
  constexpr const char* file_name() const noexcept { return file_; }
  constexpr unsigned line() const noexcept { return line_; }
  constexpr const char* function_name() const noexcept { return function_; }

  const char* file_ = "";
  unsigned line_ = 0;
  const char* function_ = "";
};

// An unexpected fault raised by our own code. The code is ours to number.
class Fault : public std::runtime_error {
 public:
  explicit Fault(int32_t code, const std::string& description,
                 SourceLocation where = SourceLocation::current());
  int32_t Code() const noexcept { return code_; }
  const SourceLocation& Where() const noexcept { return where_; }

 private:
  int32_t code_;
  SourceLocation where_;
};

struct FaultRecord {
  std::string module;
  std::string procedure;
  int32_t line = 0;          // line within the procedure, counted from the trap
  int32_t code = 0;
  std::string description;
};

class ErrorTrap {
 public:
  ErrorTrap(const char* module, const char* procedure,
            SourceLocation where = SourceLocation::current()) noexcept;
  ~ErrorTrap();
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

  // Remembers the source line reached, for faults that carry no line of their own.
  void Line(int source_line) noexcept { checkpoint_ = source_line; }

 private:
  const char* module_;
  const char* procedure_;
  SourceLocation where_;
  int checkpoint_;
  int uncaught_on_entry_;
};

// The eight lines of the report, separated by "\n".
std::string BuildErrorReport(const FaultRecord& record);

// Where the support address points.
extern const char* const kSupportAddress;

// Shows the report (a message box when a display handler is installed, standard error
// otherwise) and ends the process with exit status 3. Never returns.
[[noreturn]] void ReportError(const FaultRecord& record);

// Builds the record for the exception being handled (call inside a catch block), from the
// first trap that it passed; falls back to the given module and procedure.
FaultRecord RecordForCurrentException(const char* fallback_module, const char* fallback_procedure);

// Convenience for catch blocks at the top of the program.
[[noreturn]] void ReportCurrentException(const char* fallback_module, const char* fallback_procedure);

// A display-aware report shower (installed by the windows); gets the text, must return.
using ErrorBoxShower = void (*)(const std::string& title, const std::string& text);
void SetErrorBoxShower(ErrorBoxShower shower) noexcept;

}  // namespace chronoreel
