// Time in recordings: where a recording starts on the recorder's clock, the wall-clock time of
// a picture in it, the texts the viewer shows for time, and which recording of a channel
// holds a moment.
//
// The recorder's clock is read as local time, as every name on the disk is. A picture's
// time is its recording's start (from the name) plus the picture's time from the recording's
// first picture (the engine's TvxGetPictureTime).
#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recordingpath.h"

// Start of the recording on the recorder's clock (its day and start clock time; clock values
// the disk stores past 23:59:59 run on into the next day). Invalid for a name that is no date.
QDateTime RecordingStart(const RecordingName& name);

// Milliseconds from the recording's start to `moment`, when the moment lies inside the
// recording (start <= moment < start + duration, a recording of duration 0 holding only its
// start); -1 otherwise.
int64_t OffsetInRecording(const RecordingName& name, const QDateTime& moment);

// "HH:MM:SS" for hours of a day and more, "MM:SS" below an hour.
QString FormatSpan(int64_t seconds);

// The time beside the bar's slider: "2024-03-05 14:05:30  03:12 / 10:00" (the picture's
// wall-clock time, elapsed / total of the recording).
QString BarTimeText(const RecordingName& name, int64_t pictureMs);

// The label of a busy video window: "CH 02  2024-03-05 14:05:30", with "  ×4" / "  ×1/8"
// when the speed is not normal (speedSteps: signed engine steps, +1 = ×2, -1 = ×1/2).
QString WindowTimeText(const RecordingName& name, int64_t pictureMs, int speedSteps);

// The recording among `candidates` (full recording paths, in any order) of `channel` that holds
// `moment`, with the offset into it in *offsetMs. "" when none does.
std::string RecordingAt(const std::vector<std::string>& candidates, int channel,
                        const QDateTime& moment, int64_t* offsetMs);
