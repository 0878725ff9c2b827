#include "book_generator.h"

#include "book/base64.h"

#include <fstream>
#include <random>
#include <vector>

namespace vellum::bench {

void writeSyntheticBook(const std::string& path, std::size_t count, std::size_t size, std::size_t paragraphs,
                        unsigned seed) {
    std::mt19937 random(seed);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" "
           "xmlns:l=\"http://www.w3.org/1999/xlink\">\n"
           " <description><title-info><genre>sf</genre><book-title>Synthetic</book-title><lang>en</lang>"
           "</title-info><document-info><id>bench</id><version>1</version></document-info></description>\n"
           " <body><section>\n";
    for (std::size_t i = 0; i < paragraphs; ++i)
        out << "  <p>Paragraph " << i << " of a generated book, with <emphasis>some</emphasis> text.</p>\n";
    out << " </section></body>\n";
    std::vector<unsigned char> bytes(size);
    std::string text(base64EncodedLength(size), '\0');
    for (std::size_t n = 0; n < count; ++n) {
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
        encodeBase64(bytes.data(), bytes.size(), text.data());
        out << " <binary id=\"picture-" << n << ".jpg\" content-type=\"image/jpeg\">\n";
        for (std::size_t i = 0; i < text.size(); i += 76) out << text.substr(i, 76) << '\n';
        out << " </binary>\n";
    }
    out << "</FictionBook>\n";
}

}  // namespace vellum::bench
