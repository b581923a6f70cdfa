// The registry's storage: the key tree in memory, its REGEDIT4 text form,
// and the file that holds it (locked read-modify-write, atomic replace).
#pragma once

#include <calquor/oleauto.h>

#include "com_text.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace calquor::reg {

struct Value {
    std::string name;  // empty: the default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Key {
    std::string name;
    std::vector<Value> values;  // in the order first set
    std::map<std::string, std::unique_ptr<Key>, com::LessNoCaseFn> children;

    Key* Child(std::string_view child) const;
    // The child of that name, created when missing (created tells which).
    Key& MakeChild(std::string_view child, bool& created);
    Value* FindValue(std::string_view valueName);
    const Value* FindValue(std::string_view valueName) const;
};

using Path = std::vector<std::string>;

// The Windows registry's limits: a key name's length, a value name's length
// and how deep keys nest. The registry functions refuse a name or a path
// beyond them, and the file reader takes a file that holds one for damaged,
// so that everything it reads can be reached through the functions (and the
// writer's work on a file stays bounded).
inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxValueNameLength = 16383;
inline constexpr std::size_t kMaxDepth = 512;

// The key at path below root, or null.
Key* Walk(Key& root, const Path& path);
const Key* Walk(const Key& root, const Path& path);

// The name every path starts from in the file.
inline constexpr std::string_view kRootName = "HKEY_CLASSES_ROOT";

// Reads REGEDIT4 text into root (which must be empty). False with a short
// reason (and its line number) when the text is not a registry export.
bool Parse(std::string_view text, Key& root, std::string& error);
// The REGEDIT4 text of the tree: every key its own section, parents first,
// subkeys in name order.
std::string Serialize(const Key& root);

// The registry file's path, or empty when none can be determined.
std::string FilePath();

// Reads the registry: ERROR_SUCCESS (a missing or empty file is an empty
// registry), ERROR_BADDB when the file is damaged, ERROR_CANTREAD,
// ERROR_PATH_NOT_FOUND when no path can be determined.
LSTATUS Load(Key& root);

// One change under the writers' lock: loads the tree, runs change (which
// returns its status and sets changed when it altered the tree) and, when it
// succeeded and changed something, replaces the file. Nothing is written
// when loading or the change fails. ERROR_CANTWRITE when the file cannot be
// replaced.
LSTATUS Update(const std::function<LSTATUS(Key& root, bool& changed)>& change);

}  // namespace calquor::reg
