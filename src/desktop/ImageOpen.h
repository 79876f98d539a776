#pragma once
// A CD image chosen in a file dialog: the display panel's "Open Disc Image..." and Ctrl+O on the
// main window. The image goes in as a dropped one does; the dialog starts in the folder of the
// image opened last, which ZarnCD.ini keeps in a section of its own ([Image] Folder).
class TfrmMain;

// Shows the dialog (the desktop's own where it offers one, through its portal) and puts the
// chosen image in; a file that is no usable image is refused with a message and changes nothing.
// GUI thread only.
void Open_Disc_Image(TfrmMain& main);
