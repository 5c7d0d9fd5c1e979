#include "app/core/error_report.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <typeinfo>

namespace chronoreel {

const char* const kSupportAddress =
    "see the section \"Reporting problems\" of Chronoreel's README";

namespace {

// The first trap that an escaping exception passes fills this in; one per thread, since
// a fault on a worker thread is reported by whoever catches it there.
struct PendingTrap {
  bool set = false;
  std::string module;
  std::string procedure;
  std::string file;
  std::string function;
  int trap_line = 0;
  int checkpoint = 0;
};
thread_local PendingTrap g_pending;

std::atomic<ErrorBoxShower> g_shower{nullptr};

// A record left by an exception that was caught and handled on the way up is stale. It is
// dropped as soon as new work starts outside any unwinding (a new trap or a new fault), so
// it cannot lend its names to a later, unrelated fault.
void DropStaleRecord() noexcept {
  if (std::uncaught_exceptions() == 0 && g_pending.set) g_pending = PendingTrap{};
}

}  // namespace

Fault::Fault(int32_t code, const std::string& description, SourceLocation where)
    : std::runtime_error(description), code_(code), where_(where) {
  DropStaleRecord();
}

ErrorTrap::ErrorTrap(const char* module, const char* procedure, SourceLocation where) noexcept
    : module_(module),
      procedure_(procedure),
      where_(where),
      checkpoint_(static_cast<int>(where.line())),
      uncaught_on_entry_(std::uncaught_exceptions()) {
  DropStaleRecord();
}

ErrorTrap::~ErrorTrap() {
  if (std::uncaught_exceptions() > uncaught_on_entry_ && !g_pending.set) {
    try {
      g_pending.set = true;
      g_pending.module = module_;
      g_pending.procedure = procedure_;
      g_pending.file = where_.file_name();
      g_pending.function = where_.function_name();
      g_pending.trap_line = static_cast<int>(where_.line());
      g_pending.checkpoint = checkpoint_;
    } catch (...) {
      // Out of memory while unwinding: the report falls back to the top's names.
    }
  } else {
    DropStaleRecord();
  }
}

std::string BuildErrorReport(const FaultRecord& r) {
  std::string text;
  text += "Error Detected\n";
  text += "Please contact Technical Support (";
  text += kSupportAddress;
  text += ")\n";
  text += "with this information:\n";
  text += "Module: " + r.module + "\n";
  text += "Procedure: " + r.procedure + "\n";
  text += "Line #: " + std::to_string(r.line) + "\n";
  text += "Error #: " + std::to_string(r.code) + "\n";
  text += "Error Description: " + r.description;
  return text;
}

FaultRecord RecordForCurrentException(const char* fallback_module, const char* fallback_procedure) {
  FaultRecord r;
  r.module = fallback_module;
  r.procedure = fallback_procedure;
  int fault_line = -1;
  std::string fault_file;
  std::string fault_function;
  try {
    throw;
  } catch (const Fault& f) {
    r.code = f.Code();
    r.description = f.what();
    fault_line = static_cast<int>(f.Where().line());
    fault_file = f.Where().file_name();
    fault_function = f.Where().function_name();
  } catch (const std::bad_alloc&) {
    r.code = 7;
    r.description = "Out of memory";
  } catch (const std::exception& e) {
    r.code = 5;
    r.description = e.what();
  } catch (...) {
    r.code = 51;
    r.description = "Internal error";
  }
  if (g_pending.set) {
    r.module = g_pending.module;
    r.procedure = g_pending.procedure;
    int line = g_pending.checkpoint;
    // The fault's own line counts only when it was raised in the trapped procedure itself;
    // a fault from a callee without a trap is reported at the caller's last checkpoint.
    if (fault_line >= g_pending.trap_line && fault_file == g_pending.file &&
        fault_function == g_pending.function) {
      line = fault_line;
    }
    r.line = line - g_pending.trap_line;
    g_pending = PendingTrap{};
  }
  return r;
}

void SetErrorBoxShower(ErrorBoxShower shower) noexcept { g_shower.store(shower); }

void ReportError(const FaultRecord& record) {
  const std::string text = BuildErrorReport(record);
  if (ErrorBoxShower shower = g_shower.load()) {
    shower("Error Debug Report", text);
  } else {
    std::string out = text + "\n";
    ssize_t ignored = ::write(STDERR_FILENO, out.data(), out.size());
    (void)ignored;
  }
  // At once: no destructors, no atexit handlers, nothing saved.
  ::_exit(3);
}

void ReportCurrentException(const char* fallback_module, const char* fallback_procedure) {
  ReportError(RecordForCurrentException(fallback_module, fallback_procedure));
}

}  // namespace chronoreel
