// The content-group listing request: GET "manageContentGroups.json" on the
// logged-in connection. Its answer is read by CControlJSON_For_Tessaly.
#include "zinpost/engine/TessalyWebAPI.h"

#include "zinpost/engine/AppSettings.h"
#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/resource.h"

#include <new>

namespace {
const char kListingEndpoint[] = "manageContentGroups.json";
}  // namespace

int CTessalyWebAPI::ManageContentGroups(fw::HttpConnection* connection, fw::InternetSession* session,
                                        std::string* response, std::string* message) {
    LOG_WRITE(1, "start       GetManageContentGroups[%d][%d]", Identity(session), Identity(connection));
    if (const auto missing = CallerMissing(session && connection, response && message)) {
        LOG_WRITE(missing->level, "%s", missing->trace);
        return 0;
    }

    int result = 0;
    std::string detail;
    Target target;
    if (!CurrentTarget(target)) {
        detail = LoadMessageById(IDS_SERVER_URL_INVALID);
    } else {
        try {
            // The flag set follows the scheme as for every other request: the
            // secure set on an http port would make WinINet speak TLS to a
            // plain server (12157) and the listing could never be read.
            const auto request = SendRequest(*connection, "GET", target, kListingEndpoint);
            const DWORD status = request ? request->StatusCode() : 0;
            if (!request) {
                detail = LoadMessageById(IDS_SERVER_CERTIFICATE_CHANGED);
            } else if (status == HTTP_STATUS_OK) {
                if (ReadResponseText(*request, *response) == BodyRead::TooLarge) {
                    // Too large to be a real listing: as one that cannot be read.
                    detail = LoadMessageById(IDS_FOLDER_INFO_UNAVAILABLE);
                } else if (!response->empty()) {
                    result = 1;
                } else {
                    detail = LoadMessageById(IDS_NO_RESPONSE_DATA);
                }
            } else {
                detail = HttpStatusMessage(status);
            }
        } catch (const fw::InternetException& e) {
            // The listing reports no detail for a transport failure.
            LOG_WRITE(4, "GetManageContentGroups : InternetException(%d)", static_cast<int>(e.Error()));
        } catch (const std::bad_alloc&) {
            detail = LoadMessageById(IDS_NO_FOLDER_INFO);
        }
    }

    if (!result && !detail.empty()) *message = detail;
    LOG_WRITE(1, "end       GetManageContentGroups");
    return result;
}
