package org.mero.db;

import java.lang.invoke.MethodHandle;
import java.lang.invoke.MethodHandles;
import java.lang.invoke.MethodType;

/**
 * The native methods of {@code DatabaseMarshall}, reached from this package.
 *
 * <p>{@code DatabaseMarshall} lives in the unnamed package (the exported function names bind it
 * there), which a named package cannot import. It is looked up once by name; each method is held
 * as a {@link MethodHandle} bound to one shared instance in a {@code static final} field, so that
 * the JIT treats the handle as a constant and inlines the call down to the native method.
 */
final class Marshall {
  private static final MethodHandle REGISTER;
  private static final MethodHandle UNREGISTER;
  private static final MethodHandle DEFINE;
  private static final MethodHandle OPEN;
  private static final MethodHandle CLOSE;
  private static final MethodHandle NUM_RECS;
  private static final MethodHandle GET_RECORD_AT;
  private static final MethodHandle GET_RECORD_BY_KEY;
  private static final MethodHandle GET_POS;
  private static final MethodHandle FIND;
  private static final MethodHandle WRITE;
  private static final MethodHandle UPDATE_RECORD;
  private static final MethodHandle DELETE_RECORD;

  static {
    try {
      Class<?> type = Class.forName("DatabaseMarshall", true, Marshall.class.getClassLoader());
      Object instance = type.getConstructor().newInstance();
      Binder bind = new Binder(type, instance);
      REGISTER = bind.method("register", int.class, String.class);
      UNREGISTER = bind.method("unregister", boolean.class, int.class);
      DEFINE = bind.method("define", boolean.class, int.class, boolean[].class, String[].class);
      OPEN = bind.method("open", boolean.class, int.class, String.class, boolean.class);
      CLOSE = bind.method("close", boolean.class, int.class);
      NUM_RECS = bind.method("numRecs", int.class, int.class);
      GET_RECORD_AT = bind.method("getRecord", String[].class, int.class, int.class);
      GET_RECORD_BY_KEY = bind.method("getRecord", String[].class, int.class, String.class);
      GET_POS = bind.method("getPos", int.class, int.class, String.class);
      FIND = bind.method("find", int[].class, int.class, boolean[].class, String[].class);
      WRITE = bind.method("write", int.class, int.class, String[].class);
      UPDATE_RECORD = bind.method("updateRecord", boolean.class, int.class, int.class, String[].class);
      DELETE_RECORD = bind.method("deleteRecord", boolean.class, int.class, int.class);
    } catch (ReflectiveOperationException e) {
      throw new ExceptionInInitializerError(e);
    }
  }

  private Marshall() {}

  private record Binder(Class<?> type, Object instance) {
    MethodHandle method(String name, Class<?> result, Class<?>... arguments)
        throws ReflectiveOperationException {
      return MethodHandles.publicLookup()
          .findVirtual(type, name, MethodType.methodType(result, arguments))
          .bindTo(instance);
    }
  }

  // The native methods throw nothing of their own; only errors of the JVM
  // (out of memory, a stack overflow) can come through here.
  private static RuntimeException rethrow(Throwable t) {
    if (t instanceof RuntimeException runtime) {
      return runtime;
    }
    if (t instanceof Error error) {
      throw error;
    }
    return new IllegalStateException(t);
  }

  static int register(String name) {
    try {
      return (int) REGISTER.invokeExact(name);
    } catch (Throwable t) {
      throw rethrow(t);
    }
  }

  static boolean unregister(int id) {
    try {
      return (boolean) UNREGISTER.invokeExact(id);
    } catch (Throwable t) {
      throw rethrow(t);
    }
  }

  static boolean define(int id, boolean[] indexed, String[] names) {
    try {
      return (boolean) DEFINE.invokeExact(id, indexed, names);
    } catch (Throwable t) {
      throw rethrow(t);
    }
  }

  static boolean open(int id, String key, boolean useKeyIndex) {
    try {
      return (boolean) OPEN.invokeExact(id, key, useKeyIndex);
    } catch (Throwable t) {
      throw rethrow(t);
    }
  }

  static boolean close(int id) {
    try {
      return (boolean) CLOSE.invokeExact(id);
    } catch (Throwable t) {
      throw rethrow(t);
    }
  }

  static int numRecs(int id) {
    try {
      return (int) NUM_RECS.invokeExact(id);
    } catch (Throwable t) {
      throw rethrow(t);
    }
  }

  static String[] getRecord(int id, int position) {
    try {
      return (String[]) GET_RECORD_AT.invokeExact(id, position);
    } catch (Throwable t) {
      throw rethrow(t);
    }
  }

  static String[] getRecord(int id, String key) {
    try {
      return (String[]) GET_RECORD_BY_KEY.invokeExact(id, key);
    } catch (Throwable t) {
      throw rethrow(t);
    }
  }

  static int getPos(int id, String key) {
    try {
      return (int) GET_POS.invokeExact(id, key);
    } catch (Throwable t) {
      throw rethrow(t);
    }
  }

  static int[] find(int id, boolean[] partial, String[] terms) {
    try {
      return (int[]) FIND.invokeExact(id, partial, terms);
    } catch (Throwable t) {
      throw rethrow(t);
    }
  }

  static int write(int id, String[] values) {
    try {
      return (int) WRITE.invokeExact(id, values);
    } catch (Throwable t) {
      throw rethrow(t);
    }
  }

  static boolean updateRecord(int id, int position, String[] values) {
    try {
      return (boolean) UPDATE_RECORD.invokeExact(id, position, values);
    } catch (Throwable t) {
      throw rethrow(t);
    }
  }

  static boolean deleteRecord(int id, int position) {
    try {
      return (boolean) DELETE_RECORD.invokeExact(id, position);
    } catch (Throwable t) {
      throw rethrow(t);
    }
  }
}
