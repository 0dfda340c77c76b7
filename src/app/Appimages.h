#pragma once
// The program's one image set, shared by tool bars, menus and buttons. The
// images are drawn here, so the program carries no image files.
#include <QIcon>

enum class TAppImage {
  Exit,
  Port,
  SlaveAddr,
  Connect,
  Disconnect,
  DriveSetup,
  Scope,
  About,
  Register,
  Inhibit,
  DisableCW,
  DisableCCW,
  Ok,
  Cancel,
  Reload,
  SendToDrive,
  SaveToDrive,
  FromFile,
  ToFile,
  Print,
  Up,
  Down,
};

QIcon AppIcon(TAppImage image);
