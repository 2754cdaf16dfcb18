(begin
  (define items (list 3 1 4 1 5 9 2 6))
  (define total 0)
  (define sum
    (lambda ()
      (cond ((null? items) total)
            (else (begin (define total (+ total (car items)))
                         (define items (cdr items))
                         (sum))))))
  (sum))
