// Load and bind helpers of the media library loader: opening a module by
// folder or by the system search, binding entry points by name, and the
// assertion failure raised on misuse.
#pragma once

#include <stdexcept>
#include <cstdarg>
#include <string>

// Raised when a caller breaks a precondition ("Assertion failure").
class EAssertionFailed : public std::logic_error {
public:
    explicit EAssertionFailed(const std::string& message = "Assertion failure")
        : std::logic_error(message) {}
};

// Raised while binding a library's entry points; the message is the
// "Load function ..." or "Load variable ..." text.
class ELoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws EAssertionFailed with `message` unless `condition` holds.
void Assert(bool condition, const std::string& message = "Assertion failure");

// printf-style formatting into a std::string.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same for an argument list the caller has started (and ends).
std::string FormatTextV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// The folder that holds the running executable (no trailing "/").
std::string ExecutableFolder();

// Result of opening a module.
struct TModuleLoad {
    void* Handle = nullptr; // dlopen handle, nullptr on failure
    std::string Path;       // the path or name given to dlopen
    std::string Error;      // the system's message when Handle is nullptr
};

// Opens `name`: by full path when `folder` is not empty and holds the file,
// otherwise through the system's search.
TModuleLoad LoadModule(const std::string& folder, const std::string& name);

// Closes a module opened by LoadModule (nullptr is ignored).
void FreeModule(void* handle);

// Looks up function `name` in `module`; throws ELoadError with
// "Load function %s@%s error: %s" when it is missing.
void* BindFunction(const std::string& libraryFile, void* module, const char* name);

// Looks up variable `name` in `module`; throws ELoadError with
// "Load variable %s@%s error: %s" when it is missing.
void* BindVariable(const std::string& libraryFile, void* module, const char* name);

// Binds one typed slot of an entry-point table.
template <class F>
void BindEntry(const std::string& libraryFile, void* module, const char* name, F& slot) {
    slot = reinterpret_cast<F>(BindFunction(libraryFile, module, name));
}
