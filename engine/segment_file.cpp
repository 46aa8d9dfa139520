#include "engine/segment_file.h"

#include "engine/file_system.h"
#include "engine/lzhuf_decoder.h"
#include "engine/rollback.h"
#include "engine/wizard_link.h"
#include "resources/texts.h"

static void DrawProgress(uint32_t written, uint32_t size) { DrawFileBar(NULL, written, size); }

int DecodeSegmentFile(const char* tempFile, const char* targetFile) {
  FILE* input = FsOpen(tempFile, "rb");
  if (input == NULL) {
    AbandonRun();
    ShowErrorBox(TEXT_ERROR_READ_CARRIER, CAPTION_ERROR_3);
    return 0;
  }
  FILE* output = FsOpen(targetFile, "wb");
  if (output == NULL) {
    fclose(input);
    AbandonRun();
    ShowErrorBox(TEXT_ERROR_COPY, CAPTION_ERROR_4);
    return 0;
  }
  // From here the target holds this run's bytes, so a rollback removes it, also when the
  // decoding fails halfway.
  if (Run.segmentIndex >= 0 && Run.segmentIndex < SEGMENT_COUNT) Run.wroteRow[Run.segmentIndex] = 1;

  LzhufProgress progress = {FileBarWidth(), DrawProgress, EraseFileBar};
  int ok = LzhufDecode(input, output, &progress);
  // A failed flush at close loses bytes just as a failed write does.
  if (fclose(output) != 0) ok = 0;
  fclose(input);
  if (ok) return 1;
  AbandonRun();
  ShowErrorBox(TEXT_ERROR_COPY, CAPTION_ERROR_5);
  return 0;
}
