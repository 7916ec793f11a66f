// Checks of an option that no context of a task took, for callers that want
// unknown names and refused values to fail rather than wait or be warned of.
#pragma once

#include "engine/FFmpegOptions.h"
#include "media/FFUtils.h"

#include <string>

// Invalid value "value" for option "name"
std::string InvalidValueText(const std::string& name, const std::string& value);

// The generic option contexts know the name, as it is or after a kind's
// letter ("vb", "ab"): a value they refused is the value's fault.
bool IsGenericOptionName(const TOptionContexts& contexts, const std::string& name);

// A context of the task, or the private class of an encoder the options
// name, has an option of that name.
bool HasSettableOption(const TOptionContexts& contexts, const TOptionState& options,
                       const std::string& name);

// Raises for an option no context took: its value when a context has the
// name, the name when no muxer, demuxer, codec or protocol knows it.
void RefuseOption(const TOptionContexts& contexts, const TOptionState& options,
                  const std::string& name, const std::string& value);

// Raises for a name that neither a context of the task nor any library
// knows (a typing mistake), before it could wait for an output.
void RefuseUnknownName(const TOptionContexts& contexts, const TOptionState& options,
                       const std::string& name);
