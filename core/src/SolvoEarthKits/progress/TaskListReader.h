#pragma once

#include <json/value.h>

#include <string>
#include <vector>

namespace SolvoEarthUtil {

// Reading of the two schedule documents. Both are parsed without keeping comments; a document
// that is not valid JSON, or too deeply nested for the parser, does not read.

/// A task list: true only for a JSON array whose elements are all objects.
bool readTaskList(const std::string& text, Json::Value& list);

/// A binding document: true only for a JSON object.
bool readBinding(const std::string& text, Json::Value& binding);

/// The text of `key` in a task object: strings as they are, numbers and booleans as written by
/// the JSON library, anything else (missing, null, arrays, objects) as "".
std::string taskText(const Json::Value& task, const char* key);

/// The flag `key` in a task object: booleans as they are, numbers true when not 0, anything
/// else false.
bool taskFlag(const Json::Value& task, const char* key);

/// Appends to `ids` every element of a binding member that is an integer within the int range;
/// other elements, and members that are not arrays, add nothing.
void readBindingIds(const Json::Value& member, std::vector<int>& ids);

} // namespace SolvoEarthUtil
