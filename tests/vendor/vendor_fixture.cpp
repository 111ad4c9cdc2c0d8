#include "vendor_fixture.h"

#include <stdlib.h>

#include <fstream>

namespace vendor_test {

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "vorne-vendor-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot make a temporary folder from " << pattern;
    return;
  }
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  if (!path_.empty()) fs::remove_all(path_, ignored);
}

void CopyInto(const fs::path& file, const fs::path& folder, const std::string& name) {
  fs::create_directories(folder);
  fs::copy_file(file, folder / (name.empty() ? file.filename() : fs::path(name)),
                fs::copy_options::overwrite_existing);
}

CallRecord::CallRecord(fs::path file) : file_(std::move(file)) {
  setenv("VORNE_STANDIN_LOG", file_.c_str(), 1);
}

CallRecord::~CallRecord() { unsetenv("VORNE_STANDIN_LOG"); }

std::vector<std::string> CallRecord::Take() {
  std::vector<std::string> lines;
  std::ifstream in(file_);
  std::string line;
  for (std::size_t i = 0; std::getline(in, line); ++i) {
    if (i >= taken_) lines.push_back(line);
  }
  taken_ += lines.size();
  return lines;
}

std::vector<std::string> Rc20Motion(const std::string& motor) {
  return {"CDLL_301P.dll: GetCamNum()", "CDLL_301P.dll: GetCamName(0,buffer)",
          "CDLL_301P.dll: OpenCam(0)", "CDLL_301P.dll: " + motor + "()"};
}

void VendorModuleTest::TearDown() {
  for (IPtzControl* camera : cameras_) camera->Release();
  cameras_.clear();
  module_.Unload();
}

void VendorModuleTest::LoadCopy(const fs::path& folder, const std::vector<fs::path>& libraries,
                                const std::string& name) {
  CopyInto(VORNE_MODULE_PATH, folder, name);
  for (const fs::path& library : libraries) CopyInto(library, folder);
  ASSERT_TRUE(module_.Load((folder / name).string())) << module_.Error();
}

IPtzControl* VendorModuleTest::NewCamera() {
  IPtzControl* camera = nullptr;
  EXPECT_EQ(module_.CreateCamera(&host_, &camera), S_OK);
  if (camera != nullptr) cameras_.push_back(camera);
  return camera;
}

IPtzControl* VendorModuleTest::CameraWithBothLibraries() {
  LoadCopy(temp_.Path() / "module", {kRc20StandIn, kSu320StandIn});
  return module_.Loaded() ? NewCamera() : nullptr;
}

}  // namespace vendor_test
