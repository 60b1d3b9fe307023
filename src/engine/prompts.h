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

// ChatML turns shared by the answering modes below.
extern const char *const kChatMLTurnEnd;     // closes a user turn
extern const char *const kChatMLAnswerHead;  // closes the user turn and opens the assistant's

// Answering from one document: system turn and user header, then the context,
// then the question header, the question and kChatMLAnswerHead.
extern const char *const kDocumentSystem;
extern const char *const kDocumentQuestionHead;
// Answer when no chunk is stored under the named path.
extern const char *const kDocumentNotIndexed;

// Answering over raw text: what a window's answer says when the text does not
// hold the answer, and the prompt around the window text and the question.
extern const char *const kWindowNotFound;
extern const char *const kWindowSystemHead;   // before the not-found phrase
extern const char *const kWindowDocumentHead; // after it, up to the window text
extern const char *const kWindowQuestionHead;
extern const char *const kWindowTail;

// Chat: system turn, optional history turn, documents and the new question.
extern const char *const kChatSystem;
extern const char *const kChatHistoryHead;
extern const char *const kChatDocumentsHead;
extern const char *const kChatQuestionHead;

// Query rewrite: system turn up to the history, then the question header;
// the keywords follow the marker in the model's answer.
extern const char *const kRewriteSystem;
extern const char *const kRewriteQuestionHead;
extern const char *const kRewriteKeywordMarker;

} // namespace prompts
