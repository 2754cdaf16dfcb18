(begin
  (print (quote hello))
  (newline)
  (print (list 1 (quote two) (list 3)))
  (print 42))
