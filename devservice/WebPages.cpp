#include "Http.h"
#include "Service.h"

namespace larkspire::devservice {

void Service::registerWebRoutes() {
    server_.Get("/",
                [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/app"); });
}

}  // namespace larkspire::devservice
