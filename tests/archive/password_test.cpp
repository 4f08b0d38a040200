#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/format/error_codes.h"
#include "archive/refused_passwords.h"
#include "archive/reader/file_stream32.h"
#include "archive/format/zip_cipher.h"
#include "frame_test_support.h"
#include "testable_unzip.h"
#include "tool_made_fixtures.h"
#include "support/temp_folder.h"

using namespace frame_test;

namespace {

struct Report {
    std::string fileName, extendedMsg;
    int32_t code;
};

// Two stored entries enciphered with "s3cret" by 7-Zip (check byte from the
// CRC), and the component positioned as the pipeline leaves it before the
// password check: local header in the work area, stream after name and extra.
class CheckPasswordTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = folder_.str() + "/";
        // 7zz with ZipCrypto over a.txt = SampleText(3000) and b.txt = SampleText(1000).
        plainA_ = SampleText(3000);
        CopyToolMade("password-two-entries.zip", dir_ + "out.zip");
        ASSERT_TRUE(PasswordsRefusedByEveryEntry(dir_ + "out.zip", {std::begin(kWrongPasswords), std::end(kWrongPasswords)}));
        zip_ = ReadFile(dir_ + "out.zip");
        first_ = FirstLocalEntry(zip_);
        second_ = LocalEntryAt(zip_, first_.dataStart + first_.packedSize);
        ASSERT_EQ(second_.flags & 9, 1);  // enciphered, CRC known
        stream_ = std::make_unique<TFileStream32>(dir_ + "out.zip", fmOpenRead | fmShareDenyWrite);
        unzip_.SetArcTypeDirectly(atZip);
        unzip_.SetOutputPathDirectly("/out/a.txt");
        unzip_.OnError = [this](TObject*, const std::string& f, const std::string& e, const std::string&,
                                int32_t code) { reports_.push_back({f, e, code}); };
        PositionAt(first_);
    }
    static constexpr const char* kWrongPasswords[] = {"wrong", "nope", "", "S3CRET", "s3cre", "secret",
                                                      "s3cret ", "x", "0123456789"};
    void PositionAt(const LocalEntry& e) {
        unzip_.SetLocalHeader(zip_.substr(e.offset, 30));
        stream_->Seek(static_cast<int64_t>(e.dataStart), TSeekOrigin::soBeginning);
    }
    // Deciphers the entry's data from where the check left the stream.
    std::string DecipheredData(const LocalEntry& e) {
        std::string data(e.packedSize - 12, '\0');
        stream_->ReadBuffer(data.data(), static_cast<int32_t>(data.size()));
        EntryCipher().DecipherBuffer(data.data(), data.size());
        return data;
    }
    void AnswerWith(std::vector<std::pair<std::string, bool>> answers) {
        answers_ = std::move(answers);
        unzip_.OnGetPassword = [this](TObject* sender, const std::string& fileName, std::string& password,
                                      bool& tryAgain) {
            EXPECT_EQ(sender, &unzip_);
            EXPECT_EQ(fileName, "/out/a.txt");
            offered_.push_back(password);
            EXPECT_TRUE(tryAgain);
            ASSERT_LT(calls_, answers_.size());
            password = answers_[calls_].first;
            tryAgain = answers_[calls_].second;
            ++calls_;
        };
    }

    TempFolder folder_;

    std::string dir_, zip_, plainA_;
    LocalEntry first_, second_;
    std::unique_ptr<TFileStream32> stream_;
    TestableUnZip unzip_;
    std::vector<Report> reports_;
    std::vector<std::pair<std::string, bool>> answers_;
    std::vector<std::string> offered_;
    size_t calls_ = 0;
};

TEST_F(CheckPasswordTest, TestPasswordComparesTheCheckByte) {
    stream_->Seek(static_cast<int64_t>(first_.dataStart), TSeekOrigin::soBeginning);
    unzip_.SetPasswordAttempts(0);
    unzip_.CheckPassword(*stream_);  // loads the raw header
    EXPECT_TRUE(unzip_.TestPassword("s3cret"));
    EXPECT_FALSE(unzip_.TestPassword(""));
    for (const char* wrong : kWrongPasswords) EXPECT_FALSE(unzip_.TestPassword(wrong)) << wrong;
}

TEST_F(CheckPasswordTest, FirstLineOfTheListAndThenTheCurrentPassword) {
    unzip_.SetPasswords({"wrong", "s3cret", "later"});
    ASSERT_TRUE(unzip_.CheckPassword(*stream_));
    EXPECT_TRUE(reports_.empty());
    EXPECT_EQ(unzip_.Password(), "s3cret");
    EXPECT_EQ(stream_->Position(), static_cast<int64_t>(first_.dataStart + 12));
    EXPECT_EQ(DecipheredData(first_), plainA_);

    // The next entry is tested with the current password first: no list needed.
    unzip_.SetPasswords({});
    PositionAt(second_);
    EXPECT_TRUE(unzip_.CheckPassword(*stream_));
    EXPECT_EQ(DecipheredData(second_), SampleText(1000));
    EXPECT_TRUE(reports_.empty());
}

TEST_F(CheckPasswordTest, HandlerRightOnTheSecondAttempt) {
    unzip_.SetPasswords({"wrong"});
    AnswerWith({{"nope", true}, {"s3cret", true}});
    ASSERT_TRUE(unzip_.CheckPassword(*stream_));
    EXPECT_EQ(calls_, 2u);
    EXPECT_EQ(offered_, (std::vector<std::string>{"wrong", ""}));  // the last tried, then cleared
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0].code, ErrorCode::InvalidPassword);
    EXPECT_EQ(reports_[0].fileName, "/out/a.txt");
    EXPECT_EQ(unzip_.Passwords(), (TStringList{"s3cret", "wrong"}));
    EXPECT_EQ(DecipheredData(first_), plainA_);
}

TEST_F(CheckPasswordTest, NoAttemptsMeansNoQuestionAndNoReport) {
    AnswerWith({{"s3cret", true}});
    unzip_.SetPasswordAttempts(0);
    EXPECT_FALSE(unzip_.CheckPassword(*stream_));
    EXPECT_EQ(calls_, 0u);
    EXPECT_TRUE(reports_.empty());
    EXPECT_EQ(stream_->Position(), static_cast<int64_t>(first_.dataStart + 12));
}

TEST_F(CheckPasswordTest, WithoutAHandlerOneReportNamesTheEvent) {
    unzip_.SetPasswords({"wrong"});
    EXPECT_FALSE(unzip_.CheckPassword(*stream_));
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0].code, ErrorCode::EventNotAssigned);
    EXPECT_EQ(reports_[0].fileName, "/out/a.txt");
    EXPECT_EQ(reports_[0].extendedMsg, "OnGetPassword");
}

TEST_F(CheckPasswordTest, TryAgainFalseEndsWithoutTestingTheAnswer) {
    AnswerWith({{"s3cret", false}});
    EXPECT_FALSE(unzip_.CheckPassword(*stream_));
    EXPECT_EQ(calls_, 1u);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0].code, ErrorCode::InvalidPassword);
    EXPECT_TRUE(unzip_.Passwords().empty());
}

TEST_F(CheckPasswordTest, EmptyAnswersFailEveryAttempt) {
    AnswerWith({{"", true}, {"", true}, {"", true}});
    EXPECT_FALSE(unzip_.CheckPassword(*stream_));
    EXPECT_EQ(calls_, 3u);
    ASSERT_EQ(reports_.size(), 3u);
    for (const Report& r : reports_) EXPECT_EQ(r.code, ErrorCode::InvalidPassword);
}

TEST_F(CheckPasswordTest, CancelInTheHandlerStopsTheAttempts) {
    unzip_.OnGetPassword = [this](TObject*, const std::string&, std::string& password, bool&) {
        ++calls_;
        password = "wrong";
        unzip_.CancelFlag() = true;
    };
    EXPECT_FALSE(unzip_.CheckPassword(*stream_));
    EXPECT_EQ(calls_, 1u);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0].code, ErrorCode::UserCanceled);
}

TEST_F(CheckPasswordTest, LongPasswordsAreUsedWhole) {
    // An archive whose password is 256 characters long must not open with the
    // empty password, nor with the password cut short.
    const std::string longPassword(256, 'k');
    const std::string made = ToolMade("password-256.zip");  // 7zz over a.txt
    const std::string zip = ReadFile(made);
    const LocalEntry e = FirstLocalEntry(zip);
    TFileStream32 stream(made, fmOpenRead | fmShareDenyWrite);
    unzip_.SetLocalHeader(zip.substr(0, 30));
    stream.Seek(static_cast<int64_t>(e.dataStart), TSeekOrigin::soBeginning);
    unzip_.SetPasswords({longPassword});
    ASSERT_TRUE(unzip_.CheckPassword(stream));
    std::string data(e.packedSize - 12, '\0');
    stream.ReadBuffer(data.data(), static_cast<int32_t>(data.size()));
    EntryCipher().DecipherBuffer(data.data(), data.size());
    EXPECT_EQ(data, plainA_);
}

TEST(CheckByte, DataDescriptorEntriesUseTheDosTime) {
    // zip writes enciphered entries with flag bit 3: the check byte is the
    // high byte of the DOS time, which the fixed file time makes differ from
    // the CRC's.
    // zip -0 -P pw over p.txt = SampleText(500), dated 2020-01-01 12:30.
    const std::string made = ToolMade("password-data-descriptor.zip");
    std::string zip = ReadFile(made);
    const LocalEntry e = FirstLocalEntry(zip);
    ASSERT_EQ(e.flags & 9, 9);
    ASSERT_NE((e.dosDateTime >> 8) & 0xFF, e.crc >> 24);

    TestableUnZip unzip;
    unzip.SetArcTypeDirectly(atZip);
    TFileStream32 stream(made, fmOpenRead | fmShareDenyWrite);
    unzip.SetLocalHeader(zip.substr(0, 30));
    stream.Seek(static_cast<int64_t>(e.dataStart), TSeekOrigin::soBeginning);
    unzip.SetPasswordAttempts(0);
    unzip.SetPasswords({"pw"});
    EXPECT_TRUE(unzip.CheckPassword(stream));

    zip[6] = static_cast<char>(zip[6] & ~0x08);  // the same header claiming a known CRC
    unzip.SetLocalHeader(zip.substr(0, 30));
    EXPECT_FALSE(unzip.TestPassword("pw"));
}

}  // namespace
