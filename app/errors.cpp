#include "app/errors.hpp"

#include <errno.h>

#include <cstdio>
#include <mutex>

#include "app/app_services.hpp"
#include "app/languages.hpp"
#include "platform/message_box.hpp"

namespace mw {
namespace {

struct Message {
    uint32_t code;
    const char* text;
};

// Windows system error codes, worded as the system words them.
constexpr Message kWin32Messages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {11, "An attempt was made to load a program with an incorrect format."},
    {12, "The access code is invalid."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {15, "The system cannot find the drive specified."},
    {16, "The directory cannot be removed."},
    {17, "The system cannot move the file to a different disk drive."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {21, "The device is not ready."},
    {23, "Data error (cyclic redundancy check)."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33,
     "The process cannot access the file because another process has locked a portion of the "
     "file."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {80, "The file exists."},
    {82, "The directory or file cannot be created."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {110, "The system cannot open the device or file specified."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {121, "The semaphore timeout period has expired."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {145, "The directory is not empty."},
    {161, "The specified path is invalid."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {288, "Attempt to release mutex not owned by caller."},
    {298, "Too many posts were made to a semaphore."},
    {317,
     "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {995,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request."},
    {998, "Invalid access to memory location."},
    {1004, "Invalid flags."},
    {1009, "The configuration registry database is corrupt."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1167, "The device is not connected."},
    {1168, "Element not found."},
    {1223, "The operation was canceled by the user."},
    {1224,
     "The requested operation cannot be performed on a file with a user-mapped section open."},
    {1300, "Not all privileges or groups referenced are assigned to the caller."},
    {1313, "A specified privilege does not exist."},
    {1314, "A required privilege is not held by the client."},
    {1332, "No mapping between account names and security IDs was done."},
    {1337, "The security ID structure is invalid."},
    {1338, "The security descriptor structure is invalid."},
    {1359, "An internal error occurred."},
    {1392, "The file or directory is corrupted and unreadable."},
    {1393, "The disk structure is corrupted and unreadable."},
    {1450, "Insufficient system resources exist to complete the requested service."},
    {1455, "The paging file is too small for this operation to complete."},
    {1460, "This operation returned because the timeout period expired."},
    {1812, "The specified image file did not contain a resource section."},
    {1813, "The specified resource type cannot be found in the image file."},
    {1814, "The specified resource name cannot be found in the image file."},
    {1815, "The specified resource language ID cannot be found in the image file."},
    {1920, "The file cannot be accessed by the system."},
    {1921, "The name of the file cannot be resolved by the system."},
};

// COM results that are not Win32 codes in disguise.
constexpr Message kHResultMessages[] = {
    {0x8000FFFF, "Catastrophic failure"},        {0x80004001, "Not implemented"},
    {0x80004002, "No such interface supported"}, {0x80004003, "Invalid pointer"},
    {0x80004004, "Operation aborted"},           {0x80004005, "Unspecified error"},
};

// errno values and the Windows codes that say the same.
struct ErrnoMapping {
    int errnoValue;
    uint32_t win32;
};
constexpr ErrnoMapping kErrnoMappings[] = {
    {EPERM, 5},    {ENOENT, 2},       {ESRCH, 1168},     {EINTR, 995},        {EIO, 1117},
    {ENXIO, 21},   {E2BIG, 87},       {ENOEXEC, 11},     {EBADF, 6},          {ECHILD, 1168},
    {EAGAIN, 170}, {ENOMEM, 8},       {EACCES, 5},       {EFAULT, 998},       {EBUSY, 170},
    {EEXIST, 80},  {EXDEV, 17},       {ENODEV, 15},      {ENOTDIR, 267},      {EISDIR, 5},
    {EINVAL, 87},  {ENFILE, 4},       {EMFILE, 4},       {ETXTBSY, 32},       {EFBIG, 223},
    {ENOSPC, 112}, {ESPIPE, 87},      {EROFS, 19},       {EMLINK, 1450},      {EPIPE, 109},
    {EDOM, 87},    {ERANGE, 87},      {EDEADLK, 33},     {ENAMETOOLONG, 206}, {ENOLCK, 33},
    {ENOSYS, 120}, {ENOTEMPTY, 145},  {ELOOP, 1921},     {EILSEQ, 1113},      {EOVERFLOW, 234},
    {ENOTSUP, 50}, {ECANCELED, 1223}, {ETIMEDOUT, 1460}, {EDQUOT, 112},       {ENOMEDIUM, 21},
    {EBADMSG, 13}, {ENODATA, 1168},   {ENOTCONN, 1167},
};

constexpr const char* kLastResort = "Error";
constexpr uint32_t kGenFailure = 31;

struct Globals {
    std::mutex mutex;
    SystemMessageSource source;
};

Globals& G() {
    static Globals* g = new Globals;
    return *g;
}

const char* FindMessage(uint32_t code) {
    if ((code & 0xFFFF0000) == 0x80070000) code &= 0xFFFF;  // HRESULT_FROM_WIN32
    for (const Message& m : kWin32Messages) {
        if (m.code == code) return m.text;
    }
    for (const Message& m : kHResultMessages) {
        if (m.code == code) return m.text;
    }
    return nullptr;
}

std::optional<std::string> AskSystem(uint32_t code, uint32_t languageId, uint32_t& error) {
    SystemMessageSource source;
    {
        std::lock_guard lock(G().mutex);
        source = G().source;
    }
    error = 0;
    return source ? source(code, languageId, error) : LookUpSystemMessage(code, languageId, error);
}

void TrimLineEnds(std::string& text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
}

}  // namespace

std::optional<std::string> LookUpSystemMessage(uint32_t code, uint32_t languageId,
                                               uint32_t& error) {
    const char* text = FindMessage(code);
    if (!text) {
        error = kErrorMessageNotFound;
        return std::nullopt;
    }
    uint32_t lang = languageId & 0xFFFF;
    if (lang != 0 && (lang & 0x3FF) != 0x09) {
        error = kErrorResourceLangNotFound;
        return std::nullopt;
    }
    error = 0;
    return std::string(text) + "\r\n";
}

void SetSystemMessageSourceForTesting(SystemMessageSource source) {
    std::lock_guard lock(G().mutex);
    G().source = std::move(source);
}

std::string SystemErrorText(uint32_t code, uint32_t languageId) {
    uint32_t error = 0;
    std::optional<std::string> text = AskSystem(code, languageId & 0xFFFF, error);
    if (!text && error == kErrorResourceLangNotFound) text = AskSystem(code, 0, error);
    if (text) {
        TrimLineEnds(*text);
        return *text;
    }
    if (code == kEFail) return kLastResort;
    return SystemErrorText(kEFail, languageId);
}

std::string SystemErrorText(const std::error_code& ec) {
    std::string text = ec.message();
    TrimLineEnds(text);
    if (text.empty()) return SystemErrorText(kEFail, 0);
    return text;
}

uint32_t Win32ErrorFromErrno(int errnoValue) {
    if (errnoValue == 0) return 0;
    for (const ErrnoMapping& m : kErrnoMappings) {
        if (m.errnoValue == errnoValue) return m.win32;
    }
    return kGenFailure;
}

uint32_t HResultFromErrno(int errnoValue) {
    uint32_t win32 = Win32ErrorFromErrno(errnoValue);
    return win32 == 0 ? 0 : 0x80070000 | win32;
}

std::string ErrorCodeText(uint32_t code) {
    if ((code & kCustomerBit) && (code & kStringIdBit)) {
        std::optional<std::string> text = LoadStringById(code & 0xFFFF);
        if (text && !text->empty()) return *text;
        return SystemErrorText(kEFail, 0);
    }
    if (code & kCustomerBit) return SystemErrorText(kEFail, 0);
    return SystemErrorText(code, 0);
}

void ReportError(uint32_t code) {
    ShowMessage(ErrorCodeText(code), platform::mb::IconExclamation | platform::mb::Ok);
}

int ShowMessage(const std::string& text, uint32_t type, const std::string& caption) {
    ApplicationServices& services = AppServices();
    const bool silent = (type & 0xF) == 0 && services.silent && services.silent();
    platform::Window* owner = services.owner ? services.owner() : DefaultOwner();
    if (!silent && services.modalState) services.modalState(false);

    if ((type & 0xF0) == 0) {
        switch (type & 0xF) {
            case platform::mb::Ok:
            case platform::mb::OkCancel:
                type |= platform::mb::IconExclamation;
                break;
            case platform::mb::YesNoCancel:
            case platform::mb::YesNo:
                type |= platform::mb::IconQuestion;
                break;
            default:
                break;
        }
    }
    if (owner ? HasRightToLeftLayout(owner) : IsRightToLeft(LanguageFromUserDefault(0))) {
        type |= platform::mb::RtlReading;
    }
    std::string title = caption.empty() ? DefaultCaption() : caption;

    int result = 1;
    if (silent) {
        if (services.debugOutput) {
            services.debugOutput(text + "\n");
        } else {
            std::fprintf(stderr, "%s\n", text.c_str());
        }
    } else {
        result = platform::MessageBoxes().Show(owner, text, title, type);
    }
    if (!silent && services.modalState) services.modalState(true);
    return result;
}

platform::Window* DefaultOwner() {
    return ActiveTopLevelWindow();
}

}  // namespace mw
