import java.sql.Connection;
import java.sql.DriverManager;
import java.sql.PreparedStatement;
import java.sql.ResultSet;
import java.sql.SQLException;
import java.sql.Statement;
import java.util.Arrays;
import java.util.HashMap;
import java.util.Map;
import java.util.function.Consumer;

/**
 * An SQL engine over JDBC, autocommit on, so that each change is committed by the call that
 * makes it. Table recs: an integer row id (insertion order, the handle and the result order)
 * and one text column per field, f0 to f4. Each statement is prepared once per connection.
 * Dialects differ only in their connection, table and matching conditions.
 */
abstract class JdbcEngine implements BenchEngine {
  private Connection connection;
  private boolean created;
  // Prepared on first use and kept for the connection, so that reopening
  // prepares only what the first answer needs.
  private final Map<String, PreparedStatement> statements = new HashMap<>();

  /** The JDBC address of the database file. */
  protected abstract String url();

  /** Settings applied to every new connection. */
  protected abstract void configure(Statement statement) throws SQLException;

  /** Statements that create the table and its indexes. */
  protected abstract String[] createTable();

  /** A WHERE condition: column equals the parameter, ignoring ASCII case. */
  protected abstract String wholeValueCondition(String column);

  /** A WHERE condition: column contains the parameter, ignoring ASCII case. */
  protected abstract String substringCondition(String column);

  /** The parameter of substringCondition for a term. */
  protected abstract String substringArgument(String term);

  /** A query whose first column is the engine's version. */
  protected abstract String versionQuery();

  @Override
  public String version() throws SQLException {
    try (Statement s = connection.createStatement(); ResultSet r = s.executeQuery(versionQuery())) {
      r.next();
      return r.getString(1);
    }
  }

  @Override
  public void open() throws SQLException {
    connection = DriverManager.getConnection(url());
    connection.setAutoCommit(true);
    try (Statement s = connection.createStatement()) {
      configure(s);
      if (!created) {
        for (String sql : createTable()) {
          s.execute(sql);
        }
        created = true;
      }
    }
  }

  private PreparedStatement statement(String sql) throws SQLException {
    PreparedStatement p = statements.get(sql);
    if (p == null) {
      p = connection.prepareStatement(sql);
      statements.put(sql, p);
    }
    return p;
  }

  @Override
  public void close() throws SQLException {
    connection.close();  // closes its statements too
    connection = null;
    statements.clear();
  }

  @Override
  public void append(String[] values) throws SQLException {
    PreparedStatement insert = statement("INSERT INTO recs (f0, f1, f2, f3, f4) VALUES (?, ?, ?, ?, ?)");
    for (int f = 0; f < values.length; f++) {
      insert.setString(f + 1, values[f]);
    }
    check(insert.executeUpdate() == 1, "insert");
  }

  @Override
  public String[] readByKey(String key) throws SQLException {
    PreparedStatement byKey = statement("SELECT f0, f1, f2, f3, f4 FROM recs WHERE f0 = ?");
    byKey.setString(1, key);
    try (ResultSet r = byKey.executeQuery()) {
      if (!r.next()) {
        return null;
      }
      String[] record = new String[Workload.FIELDS];
      for (int f = 0; f < record.length; f++) {
        record[f] = r.getString(f + 1);
      }
      return record;
    }
  }

  @Override
  public long[] findWhole(int field, String term) throws SQLException {
    PreparedStatement query = statement(
        "SELECT id FROM recs WHERE " + wholeValueCondition("f" + field) + " ORDER BY id");
    query.setString(1, term);
    return ids(query);
  }

  @Override
  public long[] findSubstring(int field, String term) throws SQLException {
    PreparedStatement query = statement(
        "SELECT id FROM recs WHERE " + substringCondition("f" + field) + " ORDER BY id");
    query.setString(1, substringArgument(term));
    return ids(query);
  }

  private static long[] ids(PreparedStatement query) throws SQLException {
    long[] ids = new long[64];
    int count = 0;
    try (ResultSet r = query.executeQuery()) {
      while (r.next()) {
        if (count == ids.length) {
          ids = Arrays.copyOf(ids, count * 2);
        }
        ids[count++] = r.getLong(1);
      }
    }
    return Arrays.copyOf(ids, count);
  }

  @Override
  public long handleOf(String key) throws SQLException {
    PreparedStatement idByKey = statement("SELECT id FROM recs WHERE f0 = ?");
    idByKey.setString(1, key);
    try (ResultSet r = idByKey.executeQuery()) {
      check(r.next(), "no row with key " + key);
      return r.getLong(1);
    }
  }

  @Override
  public void update(long handle, String[] values) throws SQLException {
    PreparedStatement updateById =
        statement("UPDATE recs SET f0 = ?, f1 = ?, f2 = ?, f3 = ?, f4 = ? WHERE id = ?");
    for (int f = 0; f < values.length; f++) {
      updateById.setString(f + 1, values[f]);
    }
    updateById.setLong(values.length + 1, handle);
    check(updateById.executeUpdate() == 1, "update of row " + handle);
  }

  @Override
  public void delete(long handle) throws SQLException {
    PreparedStatement deleteById = statement("DELETE FROM recs WHERE id = ?");
    deleteById.setLong(1, handle);
    check(deleteById.executeUpdate() == 1, "delete of row " + handle);
  }

  @Override
  public String keyAt(long handle) throws SQLException {
    PreparedStatement keyById = statement("SELECT f0 FROM recs WHERE id = ?");
    keyById.setLong(1, handle);
    try (ResultSet r = keyById.executeQuery()) {
      check(r.next(), "no row " + handle);
      return r.getString(1);
    }
  }

  @Override
  public void forEachRecord(Consumer<String[]> consumer) throws SQLException {
    try (Statement s = connection.createStatement();
        ResultSet r = s.executeQuery("SELECT f0, f1, f2, f3, f4 FROM recs ORDER BY id")) {
      while (r.next()) {
        String[] record = new String[Workload.FIELDS];
        for (int f = 0; f < record.length; f++) {
          record[f] = r.getString(f + 1);
        }
        consumer.accept(record);
      }
    }
  }

  @Override
  public int count() throws SQLException {
    try (Statement s = connection.createStatement();
        ResultSet r = s.executeQuery("SELECT COUNT(*) FROM recs")) {
      r.next();
      return r.getInt(1);
    }
  }

  private void check(boolean ok, String what) {
    if (!ok) {
      throw new IllegalStateException(name() + ": " + what + " failed");
    }
  }
}
