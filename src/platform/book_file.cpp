// What both implementations of a book's save share.
#include "platform/book_file.h"

#include <algorithm>

namespace vellum::platform::detail {

bool collectContent(const BookProducer& produce, std::string& content) {
    content.clear();
    BookWriter collect = [&](const void* data, std::size_t size) {
        try {
            content.append(static_cast<const char*>(data), size);
            return true;
        } catch (...) {
            return false;
        }
    };
    return produce(collect) && !content.empty();
}

bool readWhole(const File& file, std::size_t size, std::string& out) {
    out.resize(size);
    std::size_t done = 0;
    while (done < size) {
        std::uint32_t got = 0;
        auto want = static_cast<std::uint32_t>(std::min<std::size_t>(size - done, 1u << 30));
        if (!readSome(file, out.data() + done, want, got) || got == 0) return false;
        done += got;
    }
    std::uint32_t more = 0;
    char probe;
    return readSome(file, &probe, 1, more) && more == 0;  // the file did not grow meanwhile
}

}  // namespace vellum::platform::detail
