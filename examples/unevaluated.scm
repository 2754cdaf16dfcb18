(begin
  (define show (lambda (x) x))
  (define y 7)
  (list (show 5) (show (+ 1 2)) (show y) ((lambda (x) x) (+ 1 2))))
