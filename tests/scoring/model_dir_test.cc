// Where the programs look for shipped data, and where trained models go.
#include "scoring/model_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace lumvet {
namespace {

ModelDirPlaces places_of(const std::string& executable) {
  ModelDirPlaces places;
  places.executable = executable;
  places.build_dir = "/src/build";
  places.build_model_dir = "/src/build/share/lumvet/";
  places.from_program = "../share/lumvet/";
  places.installed_model_dir = "/usr/local/share/lumvet/";
  return places;
}

// The order the README gives: build tree, fixed folder, beside the program, and
// the install rules' folder only when the program cannot tell where it is.
TEST(ModelDir, ShippedDataIsLookedForInOrder) {
  ModelDirPlaces places = places_of("/src/build/nn/lumqet");
  EXPECT_EQ(choose_shipped_model_dir(places), "/src/build/share/lumvet/");
  places.fixed_model_dir = "/srv/models/";
  EXPECT_EQ(choose_shipped_model_dir(places), "/src/build/share/lumvet/");

  places = places_of("/opt/lumvet/bin/lumqet");
  EXPECT_EQ(choose_shipped_model_dir(places), "/opt/lumvet/share/lumvet/");
  places.fixed_model_dir = "/srv/models/";
  EXPECT_EQ(choose_shipped_model_dir(places), "/srv/models/");

  places = places_of("");
  EXPECT_EQ(choose_shipped_model_dir(places), "/usr/local/share/lumvet/");
  // A program beside the build tree, not in it.
  EXPECT_EQ(choose_shipped_model_dir(places_of("/src/build2/bin/lumqet")),
            "/src/build2/share/lumvet/");
}

TEST(ModelDir, FolderBesideAProgram) {
  EXPECT_EQ(folder_beside("/usr/bin/lumqet", "../share/lumvet/"), "/usr/share/lumvet/");
  EXPECT_EQ(folder_beside("/a/b/c/bin/x", "../../share/lumvet/"), "/a/b/share/lumvet/");
  EXPECT_EQ(folder_beside("/opt/x/lumqet", "share/lumvet/"), "/opt/x/share/lumvet/");
  EXPECT_EQ(folder_beside("/lumqet", "../share/lumvet/"), "/share/lumvet/");
}

TEST(ModelDir, TrainedModelsGoToTheCurrentDirectoryUnlessNamed) {
  EXPECT_EQ(trained_model_dir(""), "");
  EXPECT_EQ(trained_model_dir("m"), "m/");
  EXPECT_EQ(trained_model_dir("/x/"), "/x/");
}

}  // namespace
}  // namespace lumvet
