#include "core/entry_names.h"

namespace vellum {

std::string safeEntryName(std::string_view id) {
    std::string name(id);
    for (char& c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || c == ':' || u < 0x20 || u == 0x7F) c = '_';
    }
    if (name.empty() || name == "." || name == "..") name = std::string("_").append(name);
    return name;
}

}  // namespace vellum
