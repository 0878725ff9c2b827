// Putting a file into a binary element: the Base64 text, progress and abort.
#include "book/base64.h"
#include "book/binary_entry.h"
#include "core/file_encoder.h"
#include "support/book_fixture.h"

#include <gtest/gtest.h>

#include <random>

using namespace vellum;
using namespace vellum::test;

namespace {

std::vector<int> calls;
int answerZeroAt = -1;

// Records every report, and asks to stop at report number `answerZeroAt`.
struct RecordingSink final : ProgressSink {
    void beginFile(const std::string&) override {}
    bool report(std::int64_t bytes) override {
        calls.push_back(static_cast<int>(bytes));
        return static_cast<int>(calls.size()) - 1 != answerZeroAt;
    }
} recording;
ProgressSink* sink = nullptr;

int encode(const LoadedBook& book, const std::string& source) {
    return static_cast<int>(encodeFileIntoBinary(book.binary(0), source, sink));
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
        sink = &recording;
    }
    void TearDown() override { sink = nullptr; }

    std::string elementText(const LoadedBook& book) {
        ElementText text;
        EXPECT_TRUE(vellum::elementText(book.binary(0), text));
        return std::string(text.text);
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
    ASSERT_EQ(encode(book, source), 0);
    EXPECT_EQ(elementText(book), referenceEncode(bytes));
    EXPECT_EQ(calls, GetParam().calls);
    std::string contentType;
    EXPECT_TRUE(attributeText(book.binary(0), "content-type", contentType));
    EXPECT_EQ(contentType, "image/png") << "attributes stay whatever is put in";
}

// One report per block read and encoded; across a block's end the text goes on
// without padding.
constexpr int kBlock = static_cast<int>(kProgressBlock);
INSTANTIATE_TEST_SUITE_P(Sizes, EncodeSizes,
                         testing::Values(SizeCase{0, {}}, SizeCase{1, {1}}, SizeCase{2, {2}}, SizeCase{3, {3}},
                                         SizeCase{4, {4}}, SizeCase{5, {5}}, SizeCase{6, {6}},
                                         SizeCase{kProgressBlock, {kBlock}},
                                         SizeCase{2 * kProgressBlock + 2, {kBlock, kBlock, 2}}));

TEST_F(EncodeFile, LargeRandomFileRoundTripsThroughTheListing) {
    LoadedBook book(test::book(binary("a", "image/png", "T0xE")));
    std::string bytes = randomBytes(300001, 9);
    std::string source = book.dir.file("new.png");
    writeFile(source, bytes);
    ASSERT_EQ(encode(book, source), 0);
    std::optional<BinaryEntry> entry = readBinaryEntry(book.binary(0), EntrySizes::count);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->decodedSize, 300001);
    long long sum = 0;
    for (int c : calls) sum += c;
    EXPECT_EQ(sum, 300001);
    EXPECT_EQ(referenceDecode(elementText(book)), bytes);
}

TEST_F(EncodeFile, NoCallbackGivesTheSameText) {
    sink = nullptr;
    LoadedBook book(test::book(binary("a", "image/png", "T0xE")));
    std::string source = book.dir.file("new.png");
    writeFile(source, "hello");
    ASSERT_EQ(encode(book, source), 0);
    EXPECT_EQ(elementText(book), "aGVsbG8=");
    EXPECT_TRUE(calls.empty());
}

TEST_F(EncodeFile, AbortLeavesTheElementAsItWas) {
    for (int at : {0, 2}) {
        calls.clear();
        answerZeroAt = at;
        LoadedBook book(test::book(binary("a", "image/png", "T0xE")));
        std::string source = book.dir.file("new.png");
        writeFile(source, randomBytes(2 * kProgressBlock + 1, 5));
        EXPECT_EQ(encode(book, source), E_EABORTED);
        EXPECT_EQ(static_cast<int>(calls.size()), at + 1) << "the abort is heard at the report that asks it";
        EXPECT_EQ(elementText(book), "T0xE");
    }
}

TEST_F(EncodeFile, MissingFileIsAnOpenFailureWithoutProgress) {
    LoadedBook book(test::book(binary("a", "image/png", "T0xE")));
    EXPECT_EQ(encode(book, book.dir.file("missing")), E_EOPEN);
    EXPECT_EQ(encode(book, book.dir.path().string()), E_EOPEN) << "a folder";
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
    EXPECT_EQ(encode(book, source), E_NOT_SUPPORTED);
    EXPECT_EQ(elementText(book), "T0xE");
    EXPECT_TRUE(calls.empty());
}

}  // namespace
