(begin
  (define d (- 3 3))
  (print (quote dividing))
  (newline)
  (/ 10 d))
