// CVendrelApp: the viewer's start-up and orderly end.
//
// InitInstance, in this order: the runtime support library (CInfra), the user's Config.ini
// (made from the default on first start; when it cannot be made the user is told and the
// program goes on without an account), the password cipher's key file beside it, the
// language, the login dialog and -- only when the login ended with OK -- the main window,
// modally. ExitInstance stops what InitInstance started.
#pragma once

#include <string>
#include <vector>

class CVendrelApp {
 public:
  // images: recorder disk images named on the command line; they come first among the disk
  // candidates.
  explicit CVendrelApp(std::vector<std::string> images = {});
  virtual ~CVendrelApp();

  // Runs the program as above. Returns whether the main window was shown (false: the login
  // was cancelled).
  bool InitInstance();

  // Stops the runtime support library and drops the language object. Call once, after
  // InitInstance returned.
  void ExitInstance();

 protected:
  // The two modal steps (tests put stand-ins here). RunLogin returns the login dialog's result.
  virtual int RunLogin();
  virtual void RunMainDialog();

 private:
  std::vector<std::string> m_images;  // command-line disk images, absolute paths
};
