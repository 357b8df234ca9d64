import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;

/**
 * The child process of JniWriteFaultsTest. It loads the fault-hook build of the library (the
 * parent sets MERO_WRITE_FAULT=fail:K or abort:K), opens the database, runs one operation, and
 * prints its result and then every live record as the library now answers: "RESULT r", then
 * "R position values..." per record. Under abort:K it ends at the K-th write instead.
 *
 * <p>Usage: FaultWorker BASE OPERATION
 */
public final class FaultWorker {
  private FaultWorker() {}

  public static void main(String[] args) {
    PrintStream out = new PrintStream(new FileOutputStream(FileDescriptor.out), true, StandardCharsets.UTF_8);
    DatabaseMarshall db = new DatabaseMarshall();
    int id = db.register(args[0]);
    if (!db.open(id, ReliabilitySupport.KEY, true)) {
      out.println("OPEN FAILED");
      System.exit(2);
    }
    String result = switch (args[1]) {
      case "append" -> Integer.toString(db.write(id, new String[] {"new", "Oslo", "fresh"}));
      case "update in place" -> Boolean.toString(db.updateRecord(id, db.getPos(id, "k1"),
          new String[] {"k1", "CITY1", "NOTE 1"}));
      case "update moving the record" -> Boolean.toString(db.updateRecord(id, db.getPos(id, "k1"),
          new String[] {"k1", "a much longer city", "a much longer note"}));
      case "delete a middle record" -> Boolean.toString(db.deleteRecord(id, db.getPos(id, "k2")));
      case "delete the last record" -> Boolean.toString(db.deleteRecord(id, db.getPos(id, "k4")));
      default -> throw new IllegalArgumentException(args[1]);
    };
    out.println("RESULT " + result);
    for (int position : db.find(id, ReliabilitySupport.NO_PARTIAL, ReliabilitySupport.NO_TERMS)) {
      out.println("R " + position + " " + String.join(" ", db.getRecord(id, position)));
    }
    out.println("CHECK " + ReliabilitySupport.inconsistencies(db, id));
  }
}
