// What the engine needs of the wizard dialog: its status text, its two bars and its
// message boxes. The wizard program implements these; the engine tests record them.
#pragma once

#include <stdint.h>
#include <stdio.h>

// Sets the status text (control 170).
void SetStatusText(const char* text);

// Shows an error box owned by the wizard dialog: MB_ICONERROR with one OK button.
void ShowErrorBox(const char* text, const char* caption);

// Paints the install bar; context (a device context) may be null (the dialog's own is
// taken), stream may be null (the last fill is repainted). With a stream the fill follows
// its position.
void DrawInstallBar(void* context, FILE* stream);

// Paints the per-file bar; context may be null.
void DrawFileBar(void* context, uint32_t done, uint32_t total);

// The per-file bar's client width in pixels, and its erasing once a file is complete.
unsigned FileBarWidth(void);
void EraseFileBar(void);
