#pragma once
// The setup files and the setup report of the drive-setup window. "To File
// ..." writes the drive's setup registers (the data model's category
// ImportExport) with a header into a setup file, "From File ..." reads such
// a file back into the register image and refreshes the window, "Print"
// prints a report of the setup. Each logs its steps in the main window's log
// and raises what goes wrong for the window's exception display.
class TKD730Setup;

// "To File ...", "From File ..." and "Print" of the window.
void ExportSetupFile(TKD730Setup& window);
void ImportSetupFile(TKD730Setup& window);
void PrintSetupReport(TKD730Setup& window);
