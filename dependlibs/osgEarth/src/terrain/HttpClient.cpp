#include "HttpClient.h"

#include <osgEarth/StringUtils>

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace osgEarth::Terrain {

namespace {

struct EasyDeleter
{
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

// curl_global_init is not thread-safe on every libcurl build, and the pager threads may race to the first fetch.
void ensureCurlInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer
{
    std::string* body;
    std::size_t limit;
    bool overflow = false;
};

size_t appendBody(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (transfer->body->size() + bytes > transfer->limit)
    {
        transfer->overflow = true;
        return 0; // makes libcurl abort the transfer
    }
    transfer->body->append(data, bytes);
    return bytes;
}

bool hasWebScheme(const std::string& url)
{
    return startsWith(url, "http://", false) || startsWith(url, "https://", false);
}

} // namespace

HttpResponse httpGet(const std::string& url, const HttpLimits& limits)
{
    HttpResponse response;
    if (!hasWebScheme(url))
    {
        response.error = "not an http or https URL";
        return response;
    }
    ensureCurlInitialised();
    EasyHandle handle(curl_easy_init());
    if (!handle)
    {
        response.error = "libcurl could not create a transfer";
        return response;
    }
    CURL* curl = handle.get();
    Transfer transfer{&response.body, limits.maxBodyBytes};
    char errorText[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);
    // Timeouts must not raise SIGALRM in a multithreaded process.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "VeltraGlobe");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    if (limits.maxBodyBytes > 0)
    {
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(limits.maxBodyBytes));
    }

    const CURLcode code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    if (const char* type = nullptr; curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
    {
        response.contentType = type;
    }
    if (transfer.overflow || code == CURLE_FILESIZE_EXCEEDED)
    {
        response.error = "the answer exceeds " + std::to_string(limits.maxBodyBytes) + " bytes";
    }
    else if (code != CURLE_OK)
    {
        response.error = *errorText ? std::string(errorText) : std::string(curl_easy_strerror(code));
    }
    else if (response.status >= 400)
    {
        response.error = "HTTP status " + std::to_string(response.status);
    }
    else
    {
        response.ok = true;
        return response;
    }
    response.body.clear();
    return response;
}

} // namespace osgEarth::Terrain
