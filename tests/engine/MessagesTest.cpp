// String table texts and the boxes that show them.
#include "zinpost/engine/Messages.h"
#include "zinpost/ui/MessageBoxes.h"

#include "tests/support/MessageBoxRecorder.h"

#include "framework/Text.h"

#include <gtest/gtest.h>

using testing_support::TakeMessageBoxes;

TEST(Messages, LoadsTextsInTheAnsiCodePage) {
    EXPECT_EQ(LoadMessageById(116), "アップロード先の設定が完了していません。");
    EXPECT_EQ(LoadMessageById(104), "Tessaly センドレット");
    // Line feeds in the table are real line feeds.
    EXPECT_EQ(LoadMessageById(159), "公開期限の設定が間違っています。\n設定画面より期限を設定してください。");
    EXPECT_EQ(LoadMessageById(10014),
              "アップロード先の容量不足が発生しています。不要なファイルを削除して、空き容量を増やして下さい。");
}

TEST(Messages, MissingIdGivesTheFallbackText) {
    EXPECT_EQ(LoadMessageById(9999), "原因不明のエラーが発生しました。");
    EXPECT_EQ(LoadMessageById(10008), kUnknownErrorText);
}

TEST(Messages, ShowMessageByIdUsesTheStopIconAndOkOnly) {
    TakeMessageBoxes();
    ShowMessageById(120);
    ShowMessageById(9999);
    const auto boxes = TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(fw::WideToAnsi(boxes[0].text), "サーバーの接続設定が完了していません。");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    EXPECT_EQ(fw::WideToAnsi(boxes[1].text), kUnknownErrorText);
}

TEST(Messages, LastErrorBoxShowsTheSystemText) {
    TakeMessageBoxes();
    SetLastError(ERROR_FILE_NOT_FOUND);
    ShowLastErrorBox();
    const auto boxes = TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, fw::SystemErrorTextW(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(boxes[0].text.empty());
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONSTOP));
}

TEST(Messages, LastErrorWithoutSystemTextShowsTheFallback) {
    TakeMessageBoxes();
    SetLastError(0x2000FFFF);  // a customer code no message table knows
    ShowLastErrorBox();
    const auto boxes = TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(fw::WideToAnsi(boxes[0].text), kUnknownErrorText);
}
