// Every answer of the service decoded by the client: the first byte chooses the endpoint,
// the second the HTTP status, the rest is the body. Only the client's own APIError may
// leave an endpoint; anything else would reach the caller as an unexplained failure.
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "platform/fake/FakeKeychain.h"
#include "platform/fake/VirtualClock.h"
#include "service/APIClient.h"
#include "service/Wire.h"

using namespace larkspire;

namespace {

constexpr int kStatuses[] = {200, 401, 422, 500};

Config configuration() {
    Config c;
    c.api_url = "http://127.0.0.1:9";
    c.supabase_url = "http://127.0.0.1:9/supabase";
    c.anon_key = "anon";
    c.email = "ada@example.com";
    c.password = "secret";
    return c;
}

void call(APIClient& client, int endpoint) {
    switch (endpoint) {
        case 0:
            client.transcribeSingle(WAV::wrap(Bytes(64, 1)), 1, false);
            break;
        case 1:
            client.finalizeLongRecording("raw", "clean", 120);
            break;
        case 2:
            client.contextualDraft("reply", DraftContext{"Editor", "Title", "text", "", "", ""},
                                   Bytes{1, 2, 3}, std::string("p1"));
            break;
        case 3:
            client.fetchProjects();
            break;
        case 4:
            client.speech("hello");
            break;
        case 5:
            client.verifySignInCode("ada@example.com", "123456");
            break;
        case 6:
            client.install(client.refreshSession("R"));
            break;
        case 7:
            client.requestSignInCode("ada@example.com");
            break;
        case 8:
            client.updateNativeStatus("install-1", true, true, false, false);
            break;
        default:
            client.fetchNotes("2025-01-01T00:00:00Z", false);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const int endpoint = data[0] % 11;
    const int status = kStatuses[data[1] % std::size(kStatuses)];
    auto transport = std::make_shared<fuzz::AnswerTransport>(
        status, std::string(reinterpret_cast<const char*>(data) + 2, size - 2));
    fake::VirtualClock clock;
    fake::FakeKeychain keychain;
    APIClient client(configuration(), clock, keychain, transport);
    try {
        if (endpoint == 10) {
            // No stored session: the password sign-in's answer is decoded.
            client.ensureToken();
        } else {
            client.install(NativeSession{"T", "R", wire::secondsSince1970(clock.now()) + 3600});
            call(client, endpoint);
        }
    } catch (const APIClient::APIError&) {
    } catch (const std::exception& e) {
        fuzz::fail(std::string("endpoint ") + std::to_string(endpoint) + " threw " + e.what());
    }
    return 0;
}
