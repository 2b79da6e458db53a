// Exceptions and string helpers of the class library, as this system uses them.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

// Base of every exception the system raises: a message text, like the class library's.
class Exception : public std::exception {
public:
    explicit Exception(std::string msg) : Message(std::move(msg)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    std::string Message;
};

#define GD_EXCEPTION(Name, Base)                         \
    class Name : public Base {                           \
    public:                                              \
        using Base::Base;                                \
    }

GD_EXCEPTION(EConvertError, Exception);
GD_EXCEPTION(EOutOfMemory, Exception);
GD_EXCEPTION(EInvalidGraphic, Exception);
GD_EXCEPTION(EInvalidCast, Exception);
GD_EXCEPTION(EInvalidOperation, Exception);
GD_EXCEPTION(EListError, Exception);
GD_EXCEPTION(EMathError, Exception);
GD_EXCEPTION(EInvalidOp, EMathError);
GD_EXCEPTION(EZeroDivide, EMathError);
GD_EXCEPTION(EStreamError, Exception);
GD_EXCEPTION(EFCreateError, EStreamError);
GD_EXCEPTION(EFOpenError, EStreamError);
GD_EXCEPTION(EReadError, EStreamError);
GD_EXCEPTION(EWriteError, EStreamError);
GD_EXCEPTION(ERegistryException, Exception);

// Strings are byte strings; file names are UTF-8.
std::string IntToStr(int64_t v);
int StrToInt(const std::string& s);                  // EConvertError on bad text
int StrToIntDef(const std::string& s, int def);
std::string UpperCase(const std::string& s);         // ASCII only, as the class library's
std::string LowerCase(const std::string& s);
bool SameText(const std::string& a, const std::string& b);
// Case-insensitive order of UTF-8 texts in the user's language, as the desktop sorts names;
// under the C or POSIX locale (no language) the common order of Unicode, so that accented
// letters still sort beside their base letters.
int AnsiCompareText(const std::string& a, const std::string& b);
// The indexes of Texts in that order, texts that compare equal in their given order.
std::vector<size_t> AnsiSortedOrder(const std::vector<std::string>& Texts);
std::string Trim(const std::string& s);
std::string ExtractFileExt(const std::string& name);  // ".jpg", or "" when none
std::string ExtractFileName(const std::string& name);
std::string ExtractFilePath(const std::string& name); // with the trailing '/'
std::string ChangeFileExt(const std::string& name, const std::string& ext);
std::string IncludeTrailingPathDelimiter(const std::string& dir);
bool FileExists(const std::string& name);
// Opens the file for reading only when it is a regular file, and never waits: a FIFO, a
// device, a socket or a folder is refused without being read. The descriptor (close-on-exec,
// blocking reads), or -1.
int OpenRegularFileRead(const std::string& name);
bool DirectoryExists(const std::string& name);
bool DeleteFile(const std::string& name);
std::string GetTempDir();                           // with the trailing '/'

// Program arguments: ParamStr(0) is the program's own path, 1.. the command line; an index
// past the end gives "". The program entry sets them once.
void SetProgramArguments(const std::string& OwnPath, const std::vector<std::string>& Args);
std::string ParamStr(int Index);
int ParamCount();

// Creates the directory and any missing parents; true when it exists afterwards.
bool ForceDirectories(const std::string& Dir);
// The whole file as bytes; false when it cannot be read.
bool LoadFileToString(const std::string& FileName, std::string& Content);
// Read-modify-write of one file, safe when several processes do it at once: Update gets
// the current content (empty when the file is new) under an exclusive lock and returns
// whether to store the changed content, which then replaces the file atomically (an
// unnamed file in the same folder, synced, linked as FileName + '.' + 6 letters or digits
// and renamed over it; a named temporary where the file system has no unnamed files).
// False when the file cannot be written.
bool UpdateFileAtomically(const std::string& FileName, const std::function<bool(std::string& Content)>& Update);
