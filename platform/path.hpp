// Path texts taken apart and put together, by their letters alone: nothing
// here asks the file system. Every unit that splits, joins or walks a path
// does it through these, so that "//a//b/", "a/./b" and ".." mean the same
// thing everywhere: elements are what stands between separators, a run of
// separators is one, a trailing one adds nothing, and "." and ".." are kept
// as written for the caller to refuse or resolve.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace mw::platform {

// The elements of `path` between its separators (any character of
// `separators`). "" and "/" have none; "//a//b/" has "a" and "b".
std::vector<std::string> PathElements(std::string_view path, std::string_view separators = "/");

// The elements of `path` put in front of `todo`, in their order: the walk of
// a path that meets a link goes on with the link's target before what was
// left of the path.
void PrependPathElements(std::string_view path, std::deque<std::string>& todo);

// The elements with "." dropped and each ".." taking back the element before
// it; a ".." with nothing before it is dropped (nothing is above the root).
std::vector<std::string> NormalPathElements(std::string_view path,
                                            std::string_view separators = "/");

// The text before the last '/': "/" when that is the leading one, empty when
// there is none. "/a/b" gives "/a", "/a" and "/" give "/", "a" gives "".
std::string ParentPath(std::string_view path);

// `element` after `base`, with one separator between them unless `base` is
// empty, `base` ends with a separator or `element` starts with one (any
// character of `separators` counts; the one added is '/').
std::string JoinPath(std::string_view base, std::string_view element,
                     std::string_view separators = "/");

}  // namespace mw::platform
