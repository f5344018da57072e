#include <gtest/gtest.h>

#include <openssl/evp.h>

#include "account/LarkspireUrlRoute.h"
#include "account/WorkspaceController.h"
#include "util/Preferences.h"

namespace larkspire {
namespace {

using Kind = LarkspireUrlRoute::Kind;

TEST(LarkspireUrls, FollowTheTableExactly) {
    const struct {
        std::vector<std::string> urls;
        LarkspireUrlRoute route;
    } cases[] = {
        {{"larkspire://permissions/microphone/"}, {Kind::openPane, panes::microphone}},
        {{"larkspire://permissions/accessibility"}, {Kind::openPane, panes::accessibility}},
        {{"larkspire://permissions//input-monitoring//"}, {Kind::openPane, panes::inputMonitoring}},
        {{"larkspire://permissions/screen-recording"}, {Kind::openPane, panes::screenRecording}},
        // Only the first URL counts.
        {{"larkspire://permissions/microphone", "larkspire://permissions/accessibility"},
         {Kind::openPane, panes::microphone}},
        {{"larkspire://permissions/Microphone"}, {Kind::showSettings, ""}},
        {{"larkspire://permissions/"}, {Kind::showSettings, ""}},
        {{"larkspire://permissions/microphone/extra"}, {Kind::showSettings, ""}},
        {{"larkspire://settings/microphone"}, {}},
        {{"larkspire://Permissions/microphone"}, {}},
        {{"Larkspire://permissions/microphone"}, {}},
        {{"https://permissions/microphone"}, {}},
        {{"not a url"}, {}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LarkspireUrlRoute::of(c.urls), c.route)
            << (c.urls.empty() ? "(none)" : c.urls.front());
    }
}

TEST(WorkspaceOrigin, LoopbackApiUrlIsUsedAsItIsAndOtherHostsUseTheWebOrigin) {
    const std::string web = "https://web.example";
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"http://127.0.0.1:3000", "http://127.0.0.1:3000"},
        {"http://localhost:3000/base/", "http://localhost:3000/base/"},
        {"http://localhost.:3000", web},
        {"http://127.0.0.2:3000", web},
        {"http://[::1]:3000", web},
        {"https://api.larkspire.app", web},
        {"http://larkspire.localhost", web},
        {"::nonsense", std::nullopt},
    };
    for (const auto& [api, base] : cases) {
        EXPECT_EQ(WorkspaceController::baseUrlFor(api, web), base) << api;
    }
}

std::string decode(const std::string& base64) {
    std::string out(base64.size(), '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(base64.data()),
                                  static_cast<int>(base64.size()));
    out.resize(static_cast<size_t>(n) - std::count(base64.end() - 2, base64.end(), '='));
    return out;
}

TEST(HandOver, ScriptComparesSchemeAndHostWithoutThePort) {
    const NativeSession session{"acc\"ess", "refresh/1", 99};
    const auto script = WorkspaceController::handOverScript("http://127.0.0.1:3000", session);
    ASSERT_TRUE(script);
    const std::string prefix =
        "if (window.location.origin === 'http://127.0.0.1') { "
        "window.sessionStorage.setItem('larkspire.native-session', window.atob('";
    const std::string suffix = "')); }";
    ASSERT_EQ(script->rfind(prefix, 0), 0u) << *script;
    ASSERT_EQ(script->substr(script->size() - suffix.size()), suffix);
    const std::string encoded =
        script->substr(prefix.size(), script->size() - prefix.size() - suffix.size());
    EXPECT_EQ(encoded.find_first_of("\n\r"), std::string::npos);
    EXPECT_EQ(decode(encoded), R"({"access_token":"acc\"ess","refresh_token":"refresh/1"})");

    EXPECT_EQ(WorkspaceController::handOverScript("https://web.example", session)->substr(0, 54),
              "if (window.location.origin === 'https://web.example') ");
    // Tokens that are not UTF-8 cannot be written as JSON: no script.
    EXPECT_FALSE(
        WorkspaceController::handOverScript("https://web.example", NativeSession{"\xff", "r", 1}));
}

}  // namespace
}  // namespace larkspire
