// Building the viewer's dialogs: controls placed in dialog units, each with its control id
// as its object name (so tests and the skin engine find it by number), and shared limits.
//
// Dialog units are the layout units of the dialogs' designs: x px = dlu * 3 / 2,
// y px = dlu * 13 / 8 (a dialog font about 8 px wide per 4 units and 13 px high per 8).
#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <Qt>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace vendrel {

// The longest user name or password, in bytes of UTF-8: what the password cipher takes.
inline constexpr int kMaxAccountText = 255;

// A rectangle given in dialog units, in pixels.
QRect DluRect(int x, int y, int width, int height);
// A size given in dialog units, in pixels.
QSize DluSize(int width, int height);

// A static text (no id) at the rectangle, aligned as given (vertically centred).
QLabel* AddStatic(QWidget* dialog, const QString& key, QRect dlu, Qt::Alignment align = Qt::AlignLeft);

// A one-line edit with control id `id` at the rectangle: at most kMaxAccountText characters
// and kMaxAccountText bytes of UTF-8 (longer input is refused as it is typed or pasted);
// password style (echo hidden) when password is set.
QLineEdit* AddEdit(QWidget* dialog, int id, QRect dlu, bool password);

// A push button with control id `id` and caption key at the rectangle; the dialog's default
// button (Enter) when isDefault is set.
// Names each line edit of dialog whose label is its buddy by that label's caption, for the
// accessibility bus. Call after the captions are translated.
void NameEditsByLabels(QWidget* dialog);

QPushButton* AddButton(QWidget* dialog, int id, const QString& key, QRect dlu, bool isDefault = false);

// An auto check box with control id `id` and caption key at the rectangle.
QCheckBox* AddCheckBox(QWidget* dialog, int id, const QString& key, QRect dlu);

// Widens label to its text's width when the text does not fit: towards the left (never past
// x = 2) when it is right-aligned or stands left of a control, else towards the right. Call
// after the captions are translated: a translated caption may be longer than its design.
void FitText(QLabel* label, bool growLeft);
// The same for a check box's caption (it grows to the right).
void FitText(QCheckBox* box);

// The look of a plain dialog of this program: light grey tile (#E6E6E6), dark text
// (#212121) on transparent static texts, white edits with a grey border.
void ApplyDialogLook(QWidget* dialog);

}  // namespace vendrel
