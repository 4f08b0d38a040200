#include "download/download_component.h"
#include "download/download_item.h"
#include "support/windows_skip.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <string>

namespace {

struct UrlCase {
    const char* given;
    const char* url;
    const char* fileName;
};

class UrlTest : public ::testing::TestWithParam<UrlCase> {};

TEST_P(UrlTest, NormalisesTheUrlAndDerivesTheFileName) {
    TDownLoadItem item;
    item.SetLocalDir("/opt/quendal/");
    item.SetURL(GetParam().given);
    EXPECT_EQ(item.URL(), GetParam().url);
    EXPECT_EQ(item.FileName(), GetParam().fileName);
    EXPECT_EQ(item.FullFileName(), std::string("/opt/quendal/") + GetParam().fileName);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, UrlTest,
    ::testing::Values(
        UrlCase{"update.example:280/HTTP/Quendown/Quendal.zip", "http://update.example:280/HTTP/Quendown/Quendal.zip",
                "Quendal.zip"},
        UrlCase{"HTTPS://Host/Dir/File.ZIP", "HTTPS://Host/Dir/File.ZIP", "File.ZIP"},
        UrlCase{"ftp://host/a.zip", "ftp://host/a.zip", "a.zip"},  // only the presence of "://" counts
        UrlCase{"http://host/dir/", "http://host/dir/", ""},
        UrlCase{"http://host/get?file=a.zip#top", "http://host/get?file=a.zip#top", "get?file=a.zip#top"},
        UrlCase{"host.example", "http://host.example", "host.example"},
        UrlCase{"", "http://", ""}));

// What an update log writes of an attempt's failure.
TEST(ItemFailure, NamesEachCauseForTheLog) {
    using F = TDownLoadItem::TFailure;
    const std::pair<F, const char*> names[] = {
        {F::None, "none"},           {F::Refused, "refused"},     {F::TimedOut, "timed out"},
        {F::TooSlow, "too slow"},    {F::CutShort, "cut short"},  {F::Stopped, "stopped"},
    };
    for (const auto& [failure, name] : names) EXPECT_EQ(TDownLoadItem::FailureName(failure, 503), name);
    TDownLoadItem item;
    item.SetStatusCode(503);
    item.SetFailure(F::Status);
    EXPECT_EQ(item.FailureName(), "status 503");
    EXPECT_FALSE(item.ServerSilent());
    for (const F silent : {F::TimedOut, F::TooSlow}) {
        item.SetFailure(silent);
        EXPECT_TRUE(item.ServerSilent());
    }
}

struct DirCase {
    const char* given;
    const char* onPosix;
    const char* onWindows;  // where "\\" is the separator and "/" ends a folder too
};

class LocalDirTest : public ::testing::TestWithParam<DirCase> {};

TEST_P(LocalDirTest, EndsInExactlyOneSeparator) {
    TDownLoadItem item;
    item.SetLocalDir(GetParam().given);
    EXPECT_EQ(item.LocalDir(), kWindowsBuild ? GetParam().onWindows : GetParam().onPosix);
}

INSTANTIATE_TEST_SUITE_P(Dirs, LocalDirTest,
                         ::testing::Values(DirCase{"/opt/quendal", "/opt/quendal/", "/opt/quendal\\"},
                                           DirCase{"/opt/quendal/", "/opt/quendal/", "/opt/quendal/"},
                                           DirCase{"/", "/", "/"},
                                           DirCase{"", "", ""},  // the current folder
                                           DirCase{"dir\\", "dir\\/", "dir\\"},
                                           DirCase{"C:\\Quendal", "C:\\Quendal/", "C:\\Quendal\\"}));

TEST(DownLoadItem, StartsEmpty) {
    TDownLoadItem item;
    EXPECT_EQ(item.URL(), "");
    EXPECT_EQ(item.LocalDir(), "");
    EXPECT_EQ(item.FileName(), "");
    EXPECT_EQ(item.ContentType(), "");
    EXPECT_EQ(item.FileSize(), 0);
    EXPECT_EQ(item.Data, nullptr);
}

TEST(DownLoadItem, FileNameWrittenDirectlyLeavesTheUrlAndIsReplacedByTheNextUrl) {
    TDownLoadItem item;
    item.SetURL("http://host/a.zip");
    item.SetFileName("b.zip");
    EXPECT_EQ(item.URL(), "http://host/a.zip");
    EXPECT_EQ(item.FullFileName(), "b.zip");
    item.SetURL("http://host/c.zip");
    EXPECT_EQ(item.FileName(), "c.zip");
}

TEST(DownLoadItem, AssignCopiesLocationAndSizeAsTheyStand) {
    TDownLoadItem source;
    source.SetURL("http://host/a.zip");
    source.SetFileName("renamed.zip");
    source.SetLocalDir("/tmp");
    source.SetFileSize(1234);
    source.SetContentType("application/zip");
    int sourceData = 0;
    source.Data = &sourceData;

    TDownLoadItem target;
    target.SetContentType("text/plain");
    int targetData = 0;
    target.Data = &targetData;
    target.Assign(&source);

    EXPECT_EQ(target.URL(), "http://host/a.zip");
    EXPECT_EQ(target.FileName(), "renamed.zip");  // not derived again from the URL
    EXPECT_EQ(target.LocalDir(), kWindowsBuild ? "/tmp\\" : "/tmp/");
    EXPECT_EQ(target.FileSize(), 1234);
    EXPECT_EQ(target.ContentType(), "text/plain");
    EXPECT_EQ(target.Data, &targetData);
}

TEST(DownLoadItem, AssignFromAnythingButAnItemIsAnError) {
    TDownLoadItem target;
    target.SetURL("http://host/keep.zip");
    TWinHTTPDownload component;
    EXPECT_THROW(target.Assign(&component), EConvertError);
    EXPECT_THROW(target.Assign(&component.DownLoadItems()), EConvertError);
    EXPECT_THROW(target.Assign(nullptr), EConvertError);
    EXPECT_EQ(target.URL(), "http://host/keep.zip");
}

TEST(DownLoadItems, AddsInOrderIndexesAndClears) {
    TDownLoadItems items;
    TDownLoadItem* first = items.Add();
    TDownLoadItem* second = items.Add();
    EXPECT_EQ(items.Count(), 2);
    EXPECT_EQ(items.Items(0), first);
    EXPECT_EQ(items.Items(1), second);
    EXPECT_EQ(second->Index(), 1);
    EXPECT_EQ(second->Collection(), &items);
    EXPECT_NE(first->ID(), second->ID());
    EXPECT_THROW(items.Items(2), std::out_of_range);
    EXPECT_THROW(items.Items(-1), std::out_of_range);
    items.Clear();
    EXPECT_EQ(items.Count(), 0);
}

}  // namespace
