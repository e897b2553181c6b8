// Why a file call refused what it found under a name: a link where no link is
// followed, a FIFO or device where a file is read, a file of another user
// where the log is written. The system has no error code that says so; the
// reason is kept per thread and lastErrorText gives it (both backends). Every
// file call that lastErrorText may be asked about starts by clearing it.
// Private to src/platform.
#ifndef PEXIL_PLATFORM_REFUSAL_H
#define PEXIL_PLATFORM_REFUSAL_H

namespace pexil::platform::backend {

void ClearRefusal();
// Keeps the reason (at most 255 characters).
void NoteRefusal(const char* reason);
// Copies the reason into the buffer (cut to size - 1); false when none is noted.
bool RefusalText(char* buffer, int size);

}  // namespace pexil::platform::backend

#endif
