/** SplitMix64: a tiny generator whose sequence is fixed by its seed on every JVM. */
final class Rng {
  private long state;

  Rng(long seed) {
    state = seed;
  }

  long next() {
    long z = (state += 0x9E3779B97F4A7C15L);
    z = (z ^ (z >>> 30)) * 0xBF58476D1CE4E5B9L;
    z = (z ^ (z >>> 27)) * 0x94D049BB133111EBL;
    return z ^ (z >>> 31);
  }

  /** Uniform in [0, bound). */
  int below(int bound) {
    return (int) Long.remainderUnsigned(next(), bound);
  }
}
