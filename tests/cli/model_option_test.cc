// lumvet --model=FILE: scoring with the weights of a model file.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scoring/linear_model.h"
#include "scoring/model_file.h"
#include "tests/cli/test_jpeg.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::run_program;
using testing::RunResult;
using Args = std::vector<std::string>;

RunResult lumvet(const Args& args) {
  return run_program(testing::built_program("cli/lumvet"), args);
}

TEST(ModelOption, EmbeddedWeightsInAFileChangeNothing) {
  testing::ScopedTempDir dir;
  testing::make_dir(dir.file("photos"));
  for (int i = 0; i < 4; ++i) {
    testing::write_part_noise_jpeg(dir.file("photos/p" + std::to_string(i) + ".jpg"));
  }
  testing::write_flat_jpeg(dir.file("photos/flat.jpg"));
  SvmModel embedded;
  init_embedded_model(embedded);
  testing::write_bytes(dir.file("embedded.svm"), encode_svm_model(embedded));
  release_svm_model(embedded);

  for (const Args& args : {Args{"--seed=11", dir.file("photos")},
                           Args{"--seed=12", "--format=jsonl", dir.file("photos")},
                           Args{"--seed=13", dir.file("photos/p1.jpg")}}) {
    const RunResult plain = lumvet(args);
    Args with_model = args;
    with_model.insert(with_model.begin(), "--model=" + dir.file("embedded.svm"));
    const RunResult modelled = lumvet(with_model);
    EXPECT_EQ(modelled.exit_code, plain.exit_code);
    EXPECT_EQ(modelled.out, plain.out);
    EXPECT_EQ(modelled.err, plain.err);
  }

  // Other weights, other scores: a bias of 1.5 and no weights score 150 everywhere.
  SvmModel flat;
  flat.dims = 30;
  flat.bias = 1.5;
  flat.weights.assign(30, 0.0);
  testing::write_bytes(dir.file("flat.svm"), encode_svm_model(flat));
  const RunResult r = lumvet({"--model", dir.file("flat.svm"), dir.file("photos/p2.jpg")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "150\n");
}

TEST(ModelOption, UnusableFileIsOneLineAndExit2) {
  testing::ScopedTempDir dir;
  testing::write_flat_jpeg(dir.file("p.jpg"));
  SvmModel model;
  init_embedded_model(model);
  const std::vector<std::uint8_t> good = encode_svm_model(model);
  std::vector<std::uint8_t> wrong_dims = good;
  wrong_dims[0] = 29;
  testing::write_bytes(dir.file("short.svm"),
                       std::vector<std::uint8_t>(good.begin(), good.end() - 8));
  testing::write_bytes(dir.file("dims.svm"), wrong_dims);
  const struct {
    std::string file;
    std::string message;
  } cases[] = {
      {dir.file("short.svm"), "lumvet: model file " + dir.file("short.svm") +
                                  " is not a model file: it must be exactly 252 bytes long\n"},
      {dir.file("dims.svm"), "lumvet: model file " + dir.file("dims.svm") +
                                 " holds 29 features per photo, lumvet measures 30\n"},
      {dir.file("none.svm"), "lumvet: cannot read model file " + dir.file("none.svm") + "\n"},
  };
  for (const auto& c : cases) {
    // Nothing else is done: no score, and not the usage text for a missing path.
    for (const Args& args :
         {Args{"--model=" + c.file, dir.file("p.jpg")}, Args{"--model=" + c.file}}) {
      const RunResult r = lumvet(args);
      EXPECT_EQ(r.exit_code, 2);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, c.message);
    }
  }
  const RunResult r = lumvet({"--model=", dir.file("p.jpg")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, "lumvet: invalid value for --model: ''\n");
  release_svm_model(model);
}

}  // namespace
}  // namespace lumvet
