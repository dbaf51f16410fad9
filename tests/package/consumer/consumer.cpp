// A program that uses libdense the way another project would: two filled
// factors, their product sequentially and on an OpenMP team, one line of result.
#include <cstdio>
#include <cstdlib>
#include <dense/dense.hpp>

int main() {
  dense_core::matriz a{nullptr, 40, 30}, b{nullptr, 30, 20}, team{nullptr, 40, 20};
  if (!dense_core::malocar(&a) || !dense_core::malocar(&b) || !dense_core::malocar(&team)) {
    return 1;
  }
  dense_core::mgerar(&a, 3);
  dense_core::mgerar(&b, -2);
  dense_core::mzerar(&team);
  dense_core::matriz* seq = dense_arith::mmultiplicar(&a, &b, 1);  // the caller owns it
  team_rows::multiplicarOMP(&a, &b, &team, 2);
  // Every element is 30 * 3 * -2; both ways must give it.
  const bool ok = dense_core::mcomparar(seq, &team) == 1 && seq->mat[39][19] == -180;
  std::printf("consumer: 40x30 by 30x20 product %s\n", ok ? "verified" : "WRONG");
  dense_core::mliberar(seq);
  std::free(seq);
  dense_core::mliberar(&a);
  dense_core::mliberar(&b);
  dense_core::mliberar(&team);
  return ok ? 0 : 1;
}
