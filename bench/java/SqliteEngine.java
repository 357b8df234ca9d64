import java.nio.file.Path;
import java.sql.SQLException;
import java.sql.Statement;

/**
 * SQLite in WAL mode with synchronous=OFF: each commit reaches the operating system but is not
 * forced to disk, as this library's writes are. LIKE ignores ASCII case by default, and the
 * city index is built with COLLATE NOCASE so that a case-insensitive whole-value match uses it.
 */
final class SqliteEngine extends JdbcEngine {
  private final Path file;

  SqliteEngine(Path dir) {
    this.file = dir.resolve("records.sqlite");
  }

  @Override
  public String name() {
    return "sqlite";
  }

  @Override
  protected String url() {
    return "jdbc:sqlite:" + file;
  }

  @Override
  protected void configure(Statement s) throws SQLException {
    s.execute("PRAGMA journal_mode=WAL");
    s.execute("PRAGMA synchronous=OFF");
  }

  @Override
  protected String[] createTable() {
    return new String[] {
      "CREATE TABLE recs (id INTEGER PRIMARY KEY, f0 TEXT NOT NULL UNIQUE, f1 TEXT NOT NULL,"
          + " f2 TEXT NOT NULL, f3 TEXT NOT NULL, f4 TEXT NOT NULL)",
      "CREATE INDEX recs_f1 ON recs (f1 COLLATE NOCASE)"
    };
  }

  @Override
  protected String wholeValueCondition(String column) {
    return column + " = ? COLLATE NOCASE";
  }

  /** Faster here than instr(upper(column), ?), which SQLite would also allow. */
  @Override
  protected String substringCondition(String column) {
    return column + " LIKE ?";
  }

  @Override
  protected String substringArgument(String term) {
    return "%" + term + "%";  // terms hold no LIKE wildcards (see Workload)
  }

  @Override
  protected String versionQuery() {
    return "SELECT sqlite_version()";
  }
}
