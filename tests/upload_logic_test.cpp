#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "base/dispatch.h"
#include "editor/RCEditorOptions.h"
#include "fake_movies.h"
#include "library/RCEditParameters.h"
#include "library/RCFileManager.h"
#include "library/RCUtilities.h"
#include "settings/RCUserSettings.h"
#include "test_support.h"
#include "upload/RCLoginSheetModel.h"
#include "upload/RCShareViewModel.h"
#include "upload/RCUploadForm.h"
#include "upload/RCUploadSession.h"

namespace pindle {
namespace {

using State = RCUploadButton::UploadState;
using Colour = RCUploadButton::Colour;

// Delayed tasks kept until the test runs them.
struct ManualClock {
    std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> pending;

    Scheduler scheduler() {
        return [this](std::chrono::milliseconds delay, std::function<void()> task) {
            pending.emplace_back(delay, std::move(task));
        };
    }
    void runAll() {
        auto tasks = std::move(pending);
        pending.clear();
        for (auto& [delay, task] : tasks) {
            EXPECT_EQ(delay, std::chrono::milliseconds(2000));
            task();
        }
    }
};

TEST(UploadButtonTest, ProgressFillsExportThenTransferAndNeverMovesBack) {
    RCUploadButton button(nullptr);
    EXPECT_TRUE(button.acceptsPress());
    EXPECT_EQ(button.title(), "UPLOAD");
    button.showExportProgress(0.4f);
    EXPECT_EQ(button.uploadState(), State::inProgress);
    EXPECT_FALSE(button.acceptsPress());
    EXPECT_EQ(button.title(), "UPLOADING...");
    EXPECT_FLOAT_EQ(button.progress(), 0.2f);
    button.showExportProgress(1.0f);
    EXPECT_FLOAT_EQ(button.progress(), 0.5f);
    button.showTransferProgress(0.5f);
    EXPECT_FLOAT_EQ(button.progress(), 0.75f);
    // A late export report is lower than the bar: ignored.
    button.showExportProgress(0.9f);
    EXPECT_FLOAT_EQ(button.progress(), 0.75f);
    button.showTransferProgress(1.0f);
    EXPECT_EQ(button.title(), "PROCESSING...");
    EXPECT_EQ(button.colour(), Colour::green);
    EXPECT_FLOAT_EQ(button.progress(), 1.0f);
    button.showTransferProgress(0.9f);
    EXPECT_EQ(button.title(), "PROCESSING...");
    EXPECT_FALSE(button.acceptsPress());

    button.showUploadCompletedWithURL("http://web.test/gifs/abc");
    EXPECT_EQ(button.uploadState(), State::completed);
    EXPECT_TRUE(button.titleHidden());
    EXPECT_EQ(button.colour(), Colour::white);
    EXPECT_TRUE(button.addressShown());
    EXPECT_EQ(button.address(), "http://web.test/gifs/abc");
    button.showUploadCompleted();
    EXPECT_EQ(button.title(), "DONE");
    EXPECT_TRUE(button.addressShown()) << "DONE leaves the address as it was";
}

TEST(UploadButtonTest, FailureAndCopyRevertAfterTwoSecondsUnlessOvertaken) {
    ManualClock clock;
    int changes = 0;
    RCUploadButton button(clock.scheduler());
    button.setChangedHandler([&] { ++changes; });
    button.showUploadInProgress(0.6f);
    button.showUploadError();
    EXPECT_EQ(button.title(), "UPLOAD FAILED");
    EXPECT_EQ(button.colour(), Colour::red);
    EXPECT_FLOAT_EQ(button.progress(), 0.0f);
    EXPECT_TRUE(button.acceptsPress());
    clock.runAll();
    EXPECT_EQ(button.title(), "UPLOAD");
    EXPECT_EQ(button.colour(), Colour::darkPurple);
    EXPECT_EQ(changes, 1);

    // A new attempt started within the two seconds keeps its bar.
    button.showUploadError();
    button.showExportProgress(0.2f);
    clock.runAll();
    EXPECT_EQ(button.title(), "UPLOADING...");
    EXPECT_FLOAT_EQ(button.progress(), 0.1f);

    button.showUploadCompletedWithURL("http://web.test/gifs/x1");
    EXPECT_EQ(button.copyPressed(), "http://web.test/gifs/x1");
    EXPECT_TRUE(button.copyShowsCheck());
    EXPECT_EQ(button.copyTitle(), "");
    button.copyPressed();
    ASSERT_EQ(clock.pending.size(), 2u);
    auto first = std::move(clock.pending[0].second);
    clock.pending.erase(clock.pending.begin());
    first();
    EXPECT_TRUE(button.copyShowsCheck()) << "the first press's reset cut the second short";
    clock.runAll();
    EXPECT_FALSE(button.copyShowsCheck());
    EXPECT_EQ(button.copyTitle(), "COPY");

    // A reset that fires after the button is gone does nothing.
    auto gone = std::make_unique<RCUploadButton>(clock.scheduler());
    gone->showUploadError();
    gone.reset();
    clock.runAll();
}

TEST(UploadFormTest, FieldsShownForStaffAndClips) {
    struct Row {
        bool signedIn, staff, clip;
        RCUploadFieldVisibility expected;
    };
    for (const Row& row :
         {Row{true, true, false, {true, false}}, Row{true, false, true, {false, true}},
          Row{false, true, true, {false, true}}, Row{false, false, false, {}}}) {
        EXPECT_EQ(uploadFieldVisibility(row.signedIn, row.staff, row.clip), row.expected)
            << row.signedIn << row.staff << row.clip;
    }
}

TEST(UploadFormTest, MetadataReadsOnlyTheFieldsShown) {
    RCUploadFormInput input;
    input.tags = "cats, dogs";
    input.sourceURL = "http://example.org/source";
    input.username = "editor";
    input.channel = "chan";
    input.title = "A title";
    input.description = "words";
    input.ratingIndex = 3;
    input.privacyIndex = 1;
    auto never = []() -> std::string {
        ADD_FAILURE() << "a title was made up";
        return "";
    };

    RCPINDLEMetadata gif = uploadMetadata(input, {false, false}, false, never);
    EXPECT_EQ(gif.tags, "cats, dogs");
    EXPECT_EQ(gif.sourceURLString, "http://example.org/source");
    EXPECT_EQ(gif.title, "") << "a GIF carries no title";
    EXPECT_EQ(gif.videoDescription, "");
    EXPECT_EQ(gif.username, "");
    EXPECT_EQ(gif.channelID, "");
    EXPECT_EQ(gif.rating, RCPINDLEMetadata::Rating::Unrated);
    EXPECT_FALSE(gif.isHidden);

    RCPINDLEMetadata staff = uploadMetadata(input, {true, true}, true, never);
    EXPECT_EQ(staff.username, "editor");
    EXPECT_EQ(staff.channelID, "chan");
    EXPECT_EQ(staff.ratingString(), "pg-13");
    EXPECT_TRUE(staff.isHidden);
    EXPECT_EQ(staff.title, "A title");
    EXPECT_EQ(staff.videoDescription, "words");

    input.title.clear();
    input.ratingIndex = 9;
    RCPINDLEMetadata clip =
        uploadMetadata(input, {true, true}, true, [] { return RCUtilities::makeTempFileName(); });
    EXPECT_TRUE(std::regex_match(clip.title, std::regex(R"(\S{3}-\d\d-\d{4} \d\d-\d\d-\d\d)")))
        << clip.title;
    EXPECT_EQ(clip.rating, RCPINDLEMetadata::Rating::Unrated);
}

TEST(UploadFormTest, RepliesWithoutAnIdAreFailuresForTheLog) {
    auto reply = [](const char* text) {
        return readUploadReply(nlohmann::json::parse(text), std::nullopt);
    };
    EXPECT_EQ(reply(R"({"data":{"id":"abc123"}})").gifID, "abc123");
    for (const char* text : {R"({})", R"({"data":"abc"})", R"({"data":{"id":42}})",
                             R"({"data":{"id":""}})", R"({"response":[1]})"}) {
        RCUploadReply read = reply(text);
        EXPECT_FALSE(read.gifID) << text;
        EXPECT_EQ(read.logLine.rfind("File upload response not as expected: ", 0), 0u) << text;
    }
    HTTPError error;
    error.localizedDescription = "Request failed: internal server error (500)";
    RCUploadReply failed = readUploadReply(std::nullopt, error);
    EXPECT_FALSE(failed.gifID);
    EXPECT_EQ(failed.logLine, "Issue uploading file: Request failed: internal server error (500)");
}

// An upload session over hooks that the test answers by hand.
class UploadSessionTest : public ::testing::Test {
protected:
    test::TempDir temp;
    ManualClock clock;
    int made = 0;
    std::vector<std::string> logLines;
    std::function<void(Status)> exportDone;
    RCUploadSession::Progress exportProgress;
    ResponseCompletion uploadDone;
    RCUploadSession::Progress uploadProgress;
    RCPINDLEMetadata sent;
    bool sentAsClip = false;

    std::shared_ptr<RCUploadSession> make(bool asClip) {
        RCUploadSession::Hooks hooks;
        hooks.makeTempFile = [this] {
            auto file = temp / ("upload-" + std::to_string(++made) + ".mp4");
            std::ofstream(file) << "";
            return file;
        };
        hooks.exportMovie = [this](const std::filesystem::path& file,
                                   RCUploadSession::Progress progress,
                                   std::function<void(Status)> done) {
            std::ofstream(file) << "movie";
            exportProgress = std::move(progress);
            exportDone = std::move(done);
        };
        hooks.upload = [this](const std::filesystem::path& file, const RCPINDLEMetadata& metadata,
                              bool isClip, RCUploadSession::Progress progress,
                              ResponseCompletion done) {
            EXPECT_TRUE(std::filesystem::exists(file));
            sent = metadata;
            sentAsClip = isClip;
            uploadProgress = std::move(progress);
            uploadDone = std::move(done);
        };
        hooks.deleteFile = [](const std::filesystem::path& file) { std::filesystem::remove(file); };
        hooks.pageAddress = [](const std::string& id) { return "http://web.test/gifs/" + id; };
        hooks.log = [this](const std::string& line) { logLines.push_back(line); };
        return RCUploadSession::make(std::move(hooks), asClip, clock.scheduler());
    }
    size_t filesLeft() const {
        return size_t(std::distance(std::filesystem::directory_iterator(temp.path()),
                                    std::filesystem::directory_iterator()));
    }
};

TEST_F(UploadSessionTest, SuccessShowsTheAddressAndDeletesTheMovie) {
    auto session = make(true);
    std::vector<std::string> finished;
    session->setListener(
        RCUploadSession::Listener{nullptr, [&](const std::string& id) { finished.push_back(id); }});
    RCPINDLEMetadata metadata;
    metadata.tags = "one,two";
    ASSERT_TRUE(session->confirmUpload(metadata));
    EXPECT_TRUE(session->isRunning());
    EXPECT_FALSE(session->confirmUpload(metadata)) << "a second press while running";
    EXPECT_EQ(made, 1);
    exportProgress(1.0f);
    EXPECT_FLOAT_EQ(session->confirmButton().progress(), 0.5f);
    exportDone(Ok{});
    ASSERT_TRUE(uploadDone);
    EXPECT_EQ(sent.tags, "one,two");
    EXPECT_TRUE(sentAsClip);
    uploadProgress(1.0f);
    EXPECT_EQ(session->confirmButton().title(), "PROCESSING...");
    uploadDone(nlohmann::json::parse(R"({"data":{"id":"Zx9"}})"), std::nullopt);

    EXPECT_FALSE(session->isRunning());
    EXPECT_EQ(finished, std::vector<std::string>{"Zx9"});
    EXPECT_EQ(session->gifID(), "Zx9");
    EXPECT_EQ(session->successButton().address(), "http://web.test/gifs/Zx9");
    EXPECT_TRUE(session->successButton().addressShown());
    EXPECT_EQ(session->confirmButton().title(), "UPLOAD");
    EXPECT_EQ(filesLeft(), 0u);
    EXPECT_TRUE(logLines.empty());
}

TEST_F(UploadSessionTest, FailuresLogShowUploadFailedAndRetryWithANewFile) {
    auto session = make(false);
    std::vector<std::string> finished;
    session->setListener(
        RCUploadSession::Listener{nullptr, [&](const std::string& id) { finished.push_back(id); }});
    ASSERT_TRUE(session->confirmUpload({}));
    exportDone(Ok{});
    uploadDone(nlohmann::json::parse(R"({"data":{}})"), std::nullopt);
    EXPECT_EQ(session->confirmButton().title(), "UPLOAD FAILED");
    EXPECT_FALSE(session->isRunning());
    EXPECT_EQ(filesLeft(), 0u);
    ASSERT_EQ(logLines.size(), 1u);
    EXPECT_EQ(logLines[0], R"(File upload response not as expected: {"data":{}})");
    clock.runAll();
    EXPECT_EQ(session->confirmButton().title(), "UPLOAD");

    // The next attempt exports again into a new file; an export failure ends it too.
    ASSERT_TRUE(session->confirmUpload({}));
    EXPECT_EQ(made, 2);
    exportDone(Error{"no space"});
    EXPECT_EQ(session->confirmButton().title(), "UPLOAD FAILED");
    EXPECT_EQ(filesLeft(), 0u);
    EXPECT_EQ(finished, (std::vector<std::string>{"", ""}));
    EXPECT_FALSE(session->gifID());
}

TEST_F(UploadSessionTest, ASheetClosedMidwayHearsNothingAndTheMovieIsDeleted) {
    auto session = make(false);
    int calls = 0;
    session->setListener(RCUploadSession::Listener{[&] { ++calls; }, [&](auto&) { ++calls; }});
    ASSERT_TRUE(session->confirmUpload({}));
    std::weak_ptr<RCUploadSession> watch = session;
    // The sheet closes: it detaches and lets go of the session.
    session->setListener(std::nullopt);
    session.reset();
    calls = 0;
    ASSERT_FALSE(watch.expired()) << "the work in flight keeps the session";
    exportDone(Ok{});
    uploadProgress(0.5f);
    uploadDone(std::nullopt,
               HTTPError{"PindleHTTPTransportErrorDomain", 52, "dropped", "", {}, {}});
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(filesLeft(), 0u);
    exportDone = nullptr;
    exportProgress = nullptr;
    uploadDone = nullptr;
    uploadProgress = nullptr;
    clock.pending.clear();
    EXPECT_TRUE(watch.expired());
}

TEST(UploadLengthTest, TheLimitAppliesToHowLongTheUploadedMoviePlays) {
    test::FakeMovies movies;
    movies.add("/movies/upload-20", test::FakeMovies::video(640, 360, 20, 30));
    movies.add("/movies/upload-10", test::FakeMovies::video(640, 360, 10, 30));
    auto twenty = RCRecording::recordingWithURL("/movies/upload-20");
    auto ten = RCRecording::recordingWithURL("/movies/upload-10");
    EXPECT_EQ(checkUpload(*twenty, true), RCUploadCheck::tooLongGIF);
    // 20 s played twice as fast lasts 10 s; 10 s at half speed lasts 20 s.
    twenty->editParameters()->setPlaybackSpeed(2.0);
    EXPECT_EQ(checkUpload(*twenty, true), RCUploadCheck::allowed);
    EXPECT_EQ(uploadExportOptions(*twenty).speed, 2.0);
    ten->editParameters()->setPlaybackSpeed(0.5);
    EXPECT_EQ(checkUpload(*ten, true), RCUploadCheck::tooLongGIF);
    // A clip's limit is 30 s of playing time: 20 s at half speed is 40 s.
    twenty->setIsClip(true);
    twenty->editParameters()->setPlaybackSpeed(0.5);
    EXPECT_EQ(checkUpload(*twenty, true), RCUploadCheck::tooLongClip);
}

TEST(ShareViewTest, ButtonsWaitForAnId) {
    RCShareViewModel share;
    ServiceEndpoints at;
    at.web = "http://web.test";
    EXPECT_FALSE(share.buttonsEnabled());
    EXPECT_TRUE(share.overlayShown());
    EXPECT_FALSE(share.shareAddress(RCShareTarget::Reddit, at));
    share.setUploadedPINDLEGIFID(std::string("abc123"));
    EXPECT_TRUE(share.buttonsEnabled());
    EXPECT_FALSE(share.overlayShown());
    EXPECT_EQ(share.shareAddress(RCShareTarget::Reddit, at),
              "https://www.reddit.com/submit?url=http://web.test/gifs/abc123");
    share.setUploadedPINDLEGIFID(std::string());
    EXPECT_FALSE(share.buttonsEnabled());
    EXPECT_TRUE(share.overlayShown());
}

struct LoginHarness {
    ManualClock clock;
    std::vector<std::pair<std::string, std::string>> emailCalls;
    std::vector<std::string> facebookCalls;
    std::vector<std::string> signedInWith;
    ResponseCompletion reply;

    std::unique_ptr<RCLoginSheetModel> make() {
        RCLoginSheetModel::Hooks hooks;
        hooks.loginWithEmail = [this](const std::string& email, const std::string& password,
                                      ResponseCompletion done) {
            emailCalls.emplace_back(email, password);
            reply = std::move(done);
        };
        hooks.loginWithFacebookAccessToken = [this](const std::string& token,
                                                    ResponseCompletion done) {
            facebookCalls.push_back(token);
            reply = std::move(done);
        };
        hooks.loginWithAccessToken = [this](const std::string& token) {
            signedInWith.push_back(token);
        };
        return std::make_unique<RCLoginSheetModel>(std::move(hooks), clock.scheduler());
    }
};

TEST(LoginSheetTest, FailuresShowIncorrectForTwoSeconds) {
    LoginHarness h;
    auto sheet = h.make();
    EXPECT_FALSE(sheet->loginButtonClicked("me@example.org", ""));
    EXPECT_TRUE(h.emailCalls.empty()) << "an empty password is not sent";
    EXPECT_EQ(sheet->loginTitle(), "INCORRECT");
    EXPECT_FALSE(sheet->loginEnabled());
    h.clock.runAll();
    EXPECT_EQ(sheet->loginTitle(), "LOGIN");
    EXPECT_TRUE(sheet->loginEnabled());

    EXPECT_TRUE(sheet->loginButtonClicked("me@example.org", "wrong"));
    EXPECT_FALSE(sheet->loginEnabled()) << "disabled while waiting";
    h.reply(nlohmann::json::parse(R"({"data":{"access_token":""}})"), std::nullopt);
    EXPECT_TRUE(sheet->loginShowsFailure());
    h.clock.runAll();

    EXPECT_TRUE(sheet->loginButtonClicked("me@example.org", "right"));
    EXPECT_EQ(h.emailCalls.back(),
              std::make_pair(std::string("me@example.org"), std::string("right")));
    h.reply(nlohmann::json::parse(R"({"data":{"access_token":"svc-token"}})"), std::nullopt);
    EXPECT_EQ(h.signedInWith, std::vector<std::string>{"svc-token"});
    EXPECT_TRUE(sheet->loginEnabled());
    EXPECT_FALSE(sheet->loginShowsFailure());

    // A reply after the sheet is gone is dropped.
    sheet->loginButtonClicked("me@example.org", "late");
    sheet.reset();
    h.reply(nlohmann::json::parse(R"({"data":{"access_token":"late-token"}})"), std::nullopt);
    EXPECT_EQ(h.signedInWith.size(), 1u);
}

TEST(LoginSheetTest, FacebookTokenIsExchangedAndAFailureKeepsTheButtonDisabled) {
    LoginHarness h;
    auto sheet = h.make();
    sheet->facebookAuthenticated("fb-token");
    EXPECT_EQ(h.facebookCalls, std::vector<std::string>{"fb-token"});
    EXPECT_FALSE(sheet->facebookEnabled());
    h.reply(std::nullopt, HTTPError{"x", 1, "refused", "", {}, {}});
    EXPECT_FALSE(sheet->facebookEnabled());
    EXPECT_TRUE(h.signedInWith.empty());
    sheet->facebookAuthenticated("fb-token-2");
    h.reply(nlohmann::json::parse(R"({"data":{"access_token":"svc"}})"), std::nullopt);
    EXPECT_TRUE(sheet->facebookEnabled());
    EXPECT_EQ(h.signedInWith, std::vector<std::string>{"svc"});

    EXPECT_TRUE(facebookPageAction("https://m.facebook.test/login.php?next=x").showWindow);
    RCFacebookPageAction done = facebookPageAction(
        "https://www.facebook.test/connect/login_success.html#a=b&access_token=T0k&c");
    EXPECT_FALSE(done.showWindow);
    EXPECT_EQ(done.token, "T0k");
    RCFacebookPageAction other = facebookPageAction("https://www.facebook.test/dialog#state=1");
    EXPECT_FALSE(other.showWindow);
    EXPECT_FALSE(other.token);
}

TEST(AccountControlTest, LoginButtonWhenSignedOutAvatarAndMenuWhenSignedIn) {
    test::TempDir home;
    RCFileManager files(home.appDirectories());
    NotificationCenter center;
    RCUserSettings settings(makeMemoryDefaults(), files, center);
    RCAccountControl control(settings);
    EXPECT_TRUE(control.showsLoginButton());
    EXPECT_FALSE(control.viewProfileAddress());

    auto avatar = home / "avatar.png";
    std::ofstream(avatar) << "png";
    settings.setPindleAccessToken("token");
    settings.setPindleUsername("someone");
    settings.setPindleAvatarURL(avatar);
    EXPECT_FALSE(control.showsLoginButton());
    EXPECT_EQ(control.username(), "someone");
    EXPECT_EQ(control.avatarFile(), avatar);
    ASSERT_TRUE(control.viewProfileAddress());
    EXPECT_NE(control.viewProfileAddress()->find("/channel/someone"), std::string::npos);

    settings.setPindleAvatarURL(home / "missing.png");
    EXPECT_TRUE(control.avatarFile().empty()) << "an unreadable avatar shows none";
    control.logOut();
    dispatch::drainMainQueue();
    EXPECT_TRUE(control.showsLoginButton());
    EXPECT_EQ(control.username(), "");
}

}  // namespace
}  // namespace pindle
