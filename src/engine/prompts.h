#pragma once

// The fixed texts the engine writes to the model or returns as answers.
namespace prompts {

// Question prompt (Phi-3 style tags), in the order it is assembled.
extern const char *const kQuestionSystem;       // system turn up to the first quoted question
extern const char *const kQuestionRuleFound;    // after the first question, up to the second
extern const char *const kQuestionRulesRest;    // after the second question, to the user header
extern const char *const kQuestionQuestionHead; // before the question at the end
extern const char *const kQuestionTail;         // after the question: closes the turn

// Answer when retrieval finds nothing; the question goes between the parts.
extern const char *const kNoHitHead;
extern const char *const kNoHitTail;

} // namespace prompts
