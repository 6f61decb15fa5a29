// modAutoUpdateV1_Download: the two HTTP operations of the self-update, over
// libcurl.
//
// URLs are given as the program builds them, UTF-8 and possibly with Korean
// path segments ("/download/자동업데이트_v1/"); bytes outside printable ASCII
// and blanks are percent-encoded before the request goes out.
#pragma once

#include <string>

namespace brenvo::update {

// The first bytes (at most 20) of the resource at url, always fetched from
// the server (no cache), as text; "" on any failure, an HTTP error status
// included.
std::string OpenURL(const std::string& url);

// Stores the resource at url in localPath, replacing a file that is there;
// true on success. The body goes to a temporary file beside localPath first,
// so a failed or partial download leaves the old file as it was.
bool DownloadFile(const std::string& url, const std::string& localPath);

// url with every byte above 0x7E or below 0x21 written as %XX; everything
// else, '%' included, is left as it is.
std::string EscapeUrl(const std::string& url);

}  // namespace brenvo::update
