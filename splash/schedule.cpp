#include "splash/schedule.h"

#include <utility>

namespace kelvane::splash {

std::vector<float> fadealphas() {
  std::vector<float> alphas;
  for (float alpha = 0.0f; alpha <= fadelimit; alpha += fadestep) alphas.push_back(alpha);
  return alphas;
}

colourmatrix fadematrix(float alpha) {
  colourmatrix m{};
  for (int i = 0; i < 4; ++i) m[i][i] = alpha;
  m[4][4] = 1.0f;
  return m;
}

point centred(int clientwidth, int clientheight, int picturewidth, int pictureheight) {
  return {(clientwidth - picturewidth) / 2, (clientheight - pictureheight) / 2};
}

framecycle::framecycle(std::uint32_t framecount, std::vector<std::uint32_t> delays)
    : count_(framecount), delays_(std::move(delays)) {
  // A list shorter than the frames cannot say how long the others stay; one
  // fixed delay for all keeps the bar moving evenly instead.
  if (delays_.size() < count_) delays_.clear();
  delays_.resize(count_, defaultdelay);
}

std::uint32_t framecycle::advance() {
  std::uint32_t selected = index_;
  index_ = count_ ? (index_ + 1) % count_ : 0;
  return selected;
}

std::uint32_t framecycle::resume(std::uint32_t next) {
  if (!count_) return 0;
  index_ = next % count_;
  return (index_ + count_ - 1) % count_;
}

std::uint32_t framecycle::waitms() const { return count_ ? delays_[index_] * 10 : 0; }

}  // namespace kelvane::splash
