// Calling PackFiles as the host does.
#pragma once

#include "plugin/wcx.h"

#include <string>
#include <vector>

namespace vellum::test {

// The host's name list: each name ended by a NUL, the list by one more.
inline std::string addList(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) list += name + '\0';
    return list + '\0';
}

// PackFiles on `book` with the files `names` of the folder `srcPath` (ending in a separator).
inline int pack(const std::string& book, const std::string& srcPath, const std::vector<std::string>& names,
                int flags = 0, const char* subPath = nullptr) {
    std::string list = addList(names);
    return PackFiles(const_cast<char*>(book.c_str()), const_cast<char*>(subPath), const_cast<char*>(srcPath.c_str()),
                     list.data(), flags);
}

}  // namespace vellum::test
