(begin
  (print (quote before))
  (newline)
  (car (list))
  (print (quote after)))
