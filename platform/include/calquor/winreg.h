// The registry of the automation runtime stand-in, with the Windows names,
// values and signatures (winreg.h, the 8-bit forms: text is UTF-8).
//
// Storage: one text file in the REGEDIT4 export format, at $CALQUOR_REGISTRY
// or else ${XDG_CONFIG_HOME:-$HOME/.config}/calquor/registry.reg (the
// variables are read at every call). Every key is written as its own section,
// empty keys included, as a registry export lists them. Each change is one
// locked read-modify-write of the whole file: writers in any number of
// threads and processes are serialised by an exclusive lock on a lock file
// beside it ("<file>.lock"), and the new content replaces the old by renaming
// a completed temporary file, so a reader or a crash never sees half a file.
// A file that cannot be read as REGEDIT4 fails every call with ERROR_BADDB
// and is never rewritten; a missing or empty file is an empty registry.
//
// Only HKEY_CLASSES_ROOT exists. Key and value names are compared without
// regard to ASCII case and keep the case they were created with; they may
// not hold control characters, and key names no backslash. Key names hold at
// most 255 bytes, value names 16383, and keys nest at most 512 deep
// (ERROR_INVALID_PARAMETER beyond; a file beyond is damaged). A handle names
// its key by path: if the key is deleted, calls through the handle fail with
// ERROR_KEY_DELETED (until a key of that path is created again).
#pragma once

#include <calquor/unknwn.h>
#include <calquor/wtypes.h>

#include <cstdint>

namespace calquor {

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;

struct SECURITY_ATTRIBUTES;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

// A predefined handle (never closed).
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u));

// System error codes the registry returns.
inline constexpr LSTATUS ERROR_SUCCESS = 0;
inline constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
inline constexpr LSTATUS ERROR_PATH_NOT_FOUND = 3;
inline constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
inline constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
inline constexpr LSTATUS ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr LSTATUS ERROR_OUTOFMEMORY = 14;
inline constexpr LSTATUS ERROR_MOD_NOT_FOUND = 126;
inline constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
inline constexpr LSTATUS ERROR_BAD_PATHNAME = 161;
inline constexpr LSTATUS ERROR_MORE_DATA = 234;
inline constexpr LSTATUS ERROR_NO_MORE_ITEMS = 259;
inline constexpr LSTATUS ERROR_BADDB = 1009;
inline constexpr LSTATUS ERROR_CANTREAD = 1012;
inline constexpr LSTATUS ERROR_CANTWRITE = 1013;
inline constexpr LSTATUS ERROR_KEY_DELETED = 1018;
inline constexpr LSTATUS ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// Access rights. A handle refuses what it was not opened for
// (ERROR_ACCESS_DENIED).
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM DELETE = 0x00010000;
inline constexpr REGSAM KEY_READ = 0x00020019;
inline constexpr REGSAM KEY_WRITE = 0x00020006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
inline constexpr DWORD REG_LINK = 6;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens the subkey, creating it and every missing key on its path. An empty
// subkey opens hKey itself again.
CALQUOR_PLATFORM_API LSTATUS RegCreateKeyEx(HKEY hKey, const char* lpSubKey, DWORD Reserved, char* lpClass,
                                            DWORD dwOptions, REGSAM samDesired,
                                            const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                                            DWORD* lpdwDisposition);
// ERROR_FILE_NOT_FOUND when the subkey does not exist. A null or empty
// subkey opens hKey itself again.
CALQUOR_PLATFORM_API LSTATUS RegOpenKeyEx(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                          PHKEY phkResult);
CALQUOR_PLATFORM_API LSTATUS RegCloseKey(HKEY hKey);

// A null or empty name is the key's default value. Text values (REG_SZ,
// REG_EXPAND_SZ) are given with their terminating NUL, which cbData counts.
CALQUOR_PLATFORM_API LSTATUS RegSetValueEx(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                                           const BYTE* lpData, DWORD cbData);
// The value's type and data. With lpData null only the size is given; when
// *lpcbData is too small: ERROR_MORE_DATA and the size needed. A text value
// comes back terminated. ERROR_FILE_NOT_FOUND when there is no such value.
CALQUOR_PLATFORM_API LSTATUS RegQueryValueEx(HKEY hKey, const char* lpValueName, DWORD* lpReserved,
                                             DWORD* lpType, BYTE* lpData, DWORD* lpcbData);
CALQUOR_PLATFORM_API LSTATUS RegDeleteValue(HKEY hKey, const char* lpValueName);

// Subkeys in name order (without regard to case). *lpcchName holds the
// buffer size in characters on entry and the name's length on return.
// ERROR_NO_MORE_ITEMS past the last one; ERROR_MORE_DATA when the buffer is
// too small. No class names and no times are kept (empty and zero).
CALQUOR_PLATFORM_API LSTATUS RegEnumKeyEx(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName,
                                          DWORD* lpReserved, char* lpClass, DWORD* lpcchClass,
                                          FILETIME* lpftLastWriteTime);
// Values in the order they were first set (the default value first).
CALQUOR_PLATFORM_API LSTATUS RegEnumValue(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                          DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData);
// Counts and largest sizes of the key's subkeys and values; every out
// pointer may be null.
CALQUOR_PLATFORM_API LSTATUS RegQueryInfoKey(HKEY hKey, char* lpClass, DWORD* lpcchClass, DWORD* lpReserved,
                                             DWORD* lpcSubKeys, DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen,
                                             DWORD* lpcValues, DWORD* lpcbMaxValueNameLen,
                                             DWORD* lpcbMaxValueLen, DWORD* lpcbSecurityDescriptor,
                                             FILETIME* lpftLastWriteTime);

// Deletes a subkey that has no subkeys of its own (ERROR_ACCESS_DENIED
// otherwise, and for an empty subkey).
CALQUOR_PLATFORM_API LSTATUS RegDeleteKey(HKEY hKey, const char* lpSubKey);
// Deletes the subkey with everything beneath it; with a null or empty
// subkey, everything beneath hKey and its values, keeping hKey.
CALQUOR_PLATFORM_API LSTATUS RegDeleteTree(HKEY hKey, const char* lpSubKey);

// ---- The registrar ---------------------------------------------------------------
// Runs registry scripts, the text format of the Windows registrar (.rgs):
//
//   HKCR
//   {
//       NoRemove AppID
//       {
//           '%APPID%' = s 'Server'
//           ForceRemove Server.Name = s 'Description'
//           {
//               val Number = d '42'
//               Sub = s '%MODULE%'
//           }
//       }
//   }
//
// A root (HKCR or HKEY_CLASSES_ROOT, the only one here) holds keys; a key
// may have a default value ("= s 'text'", "= d 'number'", "= b 'hex'"),
// named values ("val Name = ...") and subkeys in braces. Names are bare words
// or quoted in single quotes (a quote doubled inside). %NAME% is replaced by
// the replacement added for NAME (%% gives %); an unknown name is an error.
//
// Registering creates every key and sets its values; ForceRemove deletes the
// key with all beneath it first; Delete deletes the key instead of creating
// it. Unregistering deletes the named values, then a key once it has no
// subkeys left, a ForceRemove key with all beneath it, and never a NoRemove
// key (its contents are still processed); missing keys are passed over.
// The whole script is read before anything is written: a syntax error
// (DISP_E_EXCEPTION; keys nested deeper than 512 are one) leaves the
// registry as it was. A registry failure is returned as HRESULT_FROM_WIN32
// of its code; what was written before it stays.
inline constexpr CLSID CLSID_Registrar = {0x44EC053A, 0x400F, 0x11D0, {0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3}};
inline constexpr IID IID_IRegistrar = {0x44EC053B, 0x400F, 0x11D0, {0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3}};

// Created by CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER,
// IID_IRegistrar, ...). Resources are a module's "REGISTRY" (or other type)
// resources; resFileName is the module's path.
struct CALQUOR_PLATFORM_API IRegistrar : IUnknown {
    virtual HRESULT AddReplacement(LPCOLESTR key, LPCOLESTR item) = 0;
    virtual HRESULT ClearReplacements() = 0;
    // szID is the resource number in decimal.
    virtual HRESULT ResourceRegisterSz(LPCOLESTR resFileName, LPCOLESTR szID, LPCOLESTR szType) = 0;
    virtual HRESULT ResourceUnregisterSz(LPCOLESTR resFileName, LPCOLESTR szID, LPCOLESTR szType) = 0;
    // A script file in UTF-8.
    virtual HRESULT FileRegister(LPCOLESTR fileName) = 0;
    virtual HRESULT FileUnregister(LPCOLESTR fileName) = 0;
    virtual HRESULT StringRegister(LPCOLESTR data) = 0;
    virtual HRESULT StringUnregister(LPCOLESTR data) = 0;
    virtual HRESULT ResourceRegister(LPCOLESTR resFileName, UINT nID, LPCOLESTR szType) = 0;
    virtual HRESULT ResourceUnregister(LPCOLESTR resFileName, UINT nID, LPCOLESTR szType) = 0;

protected:
    ~IRegistrar() = default;
};

}  // namespace calquor
