#pragma once
// The callback of a bulk signing request: the URL that the web page or program which made the request gave
// for the answer. It comes from outside, so only web addresses are ever opened, and what the app adds to it
// is a query item of its own, whatever the callback already holds.
#include <string>
#include <vector>

namespace bulksigning {

// True for an http or https URL with a host.
bool isAcceptedCallback(const std::string& callback);

// The callback with "name=value" added to its query ("?" or "&" as the callback needs, before a fragment);
// the value is percent-encoded as a query component.
std::string callbackWithQueryItem(const std::string& callback, const std::string& name,
                                  const std::string& value);
// The same with a list for the value: each item percent-encoded, joined by a literal "," that callers split
// at ("signatures=a,b").
std::string callbackWithQueryItem(const std::string& callback, const std::string& name,
                                  const std::vector<std::string>& values);

}  // namespace bulksigning
