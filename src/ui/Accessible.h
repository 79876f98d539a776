#pragma once
// What a screen reader says of a control. Qt names a button by its text and gives its hint only as
// the description, so a button that shows a picture instead of text reads as a nameless button.
class QWidget;

// Gives `control` its hint as its accessible name, now and whenever the hint changes later (the
// Play button's hint follows the play state).
void Name_After_Hint(QWidget* control);
