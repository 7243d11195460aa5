#pragma once
// The key spammer: presses up to three target keys at a set interval, one after
// another or together as a chord, until stopped or a set number of cycles.
#include <string>

// The worker loop (thread "PMR key spammer"); runs until shutdown.
void KeySpammerThread();

// Releases every target in list order (no recording); used when the spammer stops.
void ReleaseAllKeySpamTargets();

// Removes the target at `index`; an index outside the list is ignored. Removing
// the last target while the spammer runs stops it.
void RemoveKeySpamTargetAt(int index);

// Bridge handlers; the argument is the unwrapped text (ParseJSString).
// removeKeySpamTarget: the text read as a decimal 32-bit index; a text that is
// not a number is ignored.
void RemoveKeySpamTarget(const std::string& indexText);
// setKeySpamChordMode: chord mode on exactly when the text is "1".
void SetKeySpamChordMode(const std::string& text);

// Puts the rotation back to the first target (tests).
void ResetKeySpammerForTest();
