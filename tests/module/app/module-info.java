module org.mero.db.moduletest {
  requires org.mero.db;
}
