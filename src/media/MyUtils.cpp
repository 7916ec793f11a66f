#include "media/MyUtils.h"

#include "media/FileUtils.h"

#include <cstdarg>
#include <dlfcn.h>
#include <filesystem>
#include <vector>

void Assert(bool condition, const std::string& message) {
    if (!condition) throw EAssertionFailed(message);
}

std::string FormatTextV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatTextV(format, args);
    va_end(args);
    return text;
}

std::string ExecutableFolder() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return ".";
    return exe.parent_path().string();
}

static std::string LastDlError() {
    const char* message = dlerror();
    return message ? message : "unknown error";
}

TModuleLoad LoadModule(const std::string& folder, const std::string& name) {
    TModuleLoad result;
    result.Path = name;
    if (!folder.empty()) {
        std::string full = folder;
        if (full.back() != '/') full += '/';
        full += name;
        if (IsExistingFile(full)) result.Path = full;
    }
    dlerror();
    result.Handle = dlopen(result.Path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!result.Handle) result.Error = LastDlError();
    return result;
}

void FreeModule(void* handle) {
    if (handle) dlclose(handle);
}

static void* LookUp(void* module, const char* name, std::string& error) {
    dlerror();
    void* address = dlsym(module, name);
    if (!address) error = LastDlError();
    return address;
}

void* BindFunction(const std::string& libraryFile, void* module, const char* name) {
    std::string error;
    void* address = LookUp(module, name, error);
    if (!address)
        throw ELoadError(
            FormatText("Load function %s@%s error: %s", name, libraryFile.c_str(), error.c_str()));
    return address;
}

void* BindVariable(const std::string& libraryFile, void* module, const char* name) {
    std::string error;
    void* address = LookUp(module, name, error);
    if (!address)
        throw ELoadError(
            FormatText("Load variable %s@%s error: %s", name, libraryFile.c_str(), error.c_str()));
    return address;
}
