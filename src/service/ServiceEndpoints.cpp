#include "service/ServiceEndpoints.h"

#include <cstdlib>

namespace pindle {

ServiceEndpoints ServiceEndpoints::fromEnvironment(const EnvironmentLookup& lookup) {
    ServiceEndpoints endpoints;
    auto take = [&](const char* name, std::string& field) {
        const char* value = lookup(name);
        if (value == nullptr || *value == '\0') {
            return;
        }
        field = value;
        while (!field.empty() && field.back() == '/') {
            field.pop_back();
        }
    };
    take("PINDLE_API_URL", endpoints.api);
    take("PINDLE_UPLOAD_URL", endpoints.upload);
    take("PINDLE_WEB_URL", endpoints.web);
    take("PINDLE_MEDIA_URL", endpoints.media);
    take("PINDLE_FACEBOOK_GRAPH_URL", endpoints.facebookGraph);
    take("PINDLE_FACEBOOK_URL", endpoints.facebook);
    return endpoints;
}

const ServiceEndpoints& ServiceEndpoints::current() {
    static const ServiceEndpoints endpoints =
        fromEnvironment([](const char* name) { return std::getenv(name); });
    return endpoints;
}

}  // namespace pindle
