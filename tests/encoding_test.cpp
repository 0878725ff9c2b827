// Putting a file into a binary element: the Base64 text, progress and abort.
#include "book/binary_entry.h"
#include "plugin/book_archive.h"
#include "replace/base64_encode.h"
#include "support/book_fixture.h"

#include <gtest/gtest.h>

#include <random>

using namespace vellum;
using namespace vellum::test;

namespace {

std::vector<int> calls;
int answerZeroAt = -1;
int WCX_CALL record(char*, int size) {
    calls.push_back(size);
    return static_cast<int>(calls.size()) - 1 == answerZeroAt ? 0 : 1;
}

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& b : bytes) b = static_cast<char>(random());
    return bytes;
}

class EncodeFile : public testing::Test {
protected:
    void SetUp() override {
        calls.clear();
        answerZeroAt = -1;
        packProgressCallback = record;
    }
    void TearDown() override { packProgressCallback = nullptr; }

    std::string elementText(const LoadedBook& book) {
        ElementText text;
        EXPECT_TRUE(vellum::elementText(book.binary(0), text));
        return std::string(text.ansi);
    }
};

TEST(EncodeBase64, MatchesReferenceForEverySizeAndByte) {
    for (std::size_t size : {0, 1, 2, 3, 4, 5, 6, 7, 64, 255, 256, 1000, 4097}) {
        std::string bytes = randomBytes(size, static_cast<unsigned>(size));
        // An exact-size heap copy, so a read past the end shows under the sanitizer.
        std::vector<unsigned char> input(bytes.begin(), bytes.end());
        std::string out(base64EncodedLength(size), '?');
        encodeBase64(input.data(), input.size(), out.data());
        EXPECT_EQ(out, referenceEncode(bytes)) << size;
    }
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    for (std::size_t start = 0; start < 3; ++start) {
        std::string bytes = all.substr(start);
        std::string out(base64EncodedLength(bytes.size()), '?');
        encodeBase64(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out.data());
        EXPECT_EQ(out, referenceEncode(bytes));
    }
}

struct SizeCase {
    std::size_t size;
    std::vector<int> calls;
};

class EncodeSizes : public EncodeFile, public testing::WithParamInterface<SizeCase> {};

TEST_P(EncodeSizes, TextIsOnePaddedLineAndProgressAddsUpToTheSize) {
    LoadedBook book(test::book(binary("a", "image/png", "T0xE")));
    std::string bytes = randomBytes(GetParam().size, 3);
    std::string source = book.dir.file("new.png");
    writeFile(source, bytes);
    ASSERT_EQ(encodeFileIntoBinary(book.binary(0), source.c_str()), 0);
    EXPECT_EQ(elementText(book), referenceEncode(bytes));
    EXPECT_EQ(calls, GetParam().calls);
    std::string contentType;
    EXPECT_TRUE(attributeText(book.binary(0), "content-type", contentType));
    EXPECT_EQ(contentType, "image/png") << "attributes stay whatever is put in";
}

INSTANTIATE_TEST_SUITE_P(Sizes, EncodeSizes,
                         testing::Values(SizeCase{0, {}}, SizeCase{1, {1}}, SizeCase{2, {2}}, SizeCase{3, {3}},
                                         SizeCase{4, {3, 1}}, SizeCase{5, {3, 2}}, SizeCase{6, {3, 3}}));

TEST_F(EncodeFile, LargeRandomFileRoundTripsThroughTheListing) {
    LoadedBook book(test::book(binary("a", "image/png", "T0xE")));
    std::string bytes = randomBytes(300001, 9);
    std::string source = book.dir.file("new.png");
    writeFile(source, bytes);
    ASSERT_EQ(encodeFileIntoBinary(book.binary(0), source.c_str()), 0);
    BinaryEntry entry{};
    ASSERT_EQ(readBinaryEntry(entry, book.binary(0), 0), 1);
    EXPECT_EQ(entry.decodedSize, 300001);
    long long sum = 0;
    for (int c : calls) sum += c;
    EXPECT_EQ(sum, 300001);
    EXPECT_EQ(referenceDecode(elementText(book)), bytes);
}

TEST_F(EncodeFile, NoCallbackGivesTheSameText) {
    packProgressCallback = nullptr;
    LoadedBook book(test::book(binary("a", "image/png", "T0xE")));
    std::string source = book.dir.file("new.png");
    writeFile(source, "hello");
    ASSERT_EQ(encodeFileIntoBinary(book.binary(0), source.c_str()), 0);
    EXPECT_EQ(elementText(book), "aGVsbG8=");
    EXPECT_TRUE(calls.empty());
}

TEST_F(EncodeFile, AbortLeavesTheElementAsItWas) {
    for (int at : {0, 2}) {
        calls.clear();
        answerZeroAt = at;
        LoadedBook book(test::book(binary("a", "image/png", "T0xE")));
        std::string source = book.dir.file("new.png");
        writeFile(source, "0123456789");
        EXPECT_EQ(encodeFileIntoBinary(book.binary(0), source.c_str()), E_EABORTED);
        EXPECT_EQ(elementText(book), "T0xE");
    }
}

TEST_F(EncodeFile, MissingFileIsAnOpenFailureWithoutProgress) {
    LoadedBook book(test::book(binary("a", "image/png", "T0xE")));
    EXPECT_EQ(encodeFileIntoBinary(book.binary(0), book.dir.file("missing").c_str()), E_EOPEN);
    EXPECT_EQ(encodeFileIntoBinary(book.binary(0), book.dir.path().string().c_str()), E_EOPEN) << "a folder";
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(elementText(book), "T0xE");
}

}  // namespace

namespace {

TEST_F(EncodeFile, FileOf512MiBOrMoreIsRefusedUntouched) {
    LoadedBook book(test::book(binary("a", "image/png", "T0xE")));
    std::string source = book.dir.file("huge.bin");
    writeFile(source, "");
    std::filesystem::resize_file(source, kMaxReplacementSize);  // sparse: no disk used
    EXPECT_EQ(encodeFileIntoBinary(book.binary(0), source.c_str()), E_NOT_SUPPORTED);
    EXPECT_EQ(elementText(book), "T0xE");
    EXPECT_TRUE(calls.empty());
}

}  // namespace
