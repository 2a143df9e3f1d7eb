// The service's side of one request: the compile steps between the
// client's cache lookup and its store (compile_steps.h), with the client's
// line maps and without any file work.
#pragma once

#include <string>
#include <vector>

#include "toolchain/mendrix/stage_job.h"

namespace mendrix {

// Compiles the request in `requestMessage` as the library would and puts
// the answer message into `answer`: the program as a cache entry keyed by
// serviceAnswerKey, or the failed compile's log. `shape` gets the
// program's shape (service_warm.h). False, with no answer, for a message
// that is not a request or a compile that ended with an exception (the
// client then compiles in process and meets the same end).
bool answerServiceRequest(const std::string& requestMessage, std::string& answer,
                          std::string& shape);

}  // namespace mendrix
