/**
 * The packaged API of the MERO Database: {@link org.mero.db.Database} and its companions. The
 * module carries its native library for Linux and Windows on x64 and loads it itself.
 */
module org.mero.db {
  exports org.mero.db;
}
